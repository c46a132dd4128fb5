// The AVX2 form of apply_plain: the arithmetic of the SSE2 form (rgb_adjust_sse2.cpp) on
// registers twice as wide, sixteen pixels at a time; what is left of a row goes through the
// plain loop.
//
// AVX2's packs and unpacks work within each 128-bit half, so the two halves of every register
// go through exactly the steps of the SSE2 form on their own pixels: the packs put pixels 0-3
// and 8-11 in the low half and 4-7 and 12-15 in the high half, and the unpacks at the end
// give them back in memory order without any crossing of the halves.
//
// This file is the only one built with AVX2 enabled, and it uses nothing but the intrinsics,
// so no code compiled for AVX2 runs unless avx2_available() said so.
#include <immintrin.h>

#include <cstddef>

#include "rgb_adjust.h"

namespace rgb_adjust {

namespace {

struct kernel {
    __m256i blue_red[3];    // per output component: (K blue, K red)
    __m256i green_const[3]; // per output component: (K green, bias)
    __m256i factor;         // contrast factor << 6
};

kernel make_kernel(const simd_weights& w)
{
    kernel out;
    for (int c = 0; c < 3; ++c) {
        out.blue_red[c] = _mm256_set1_epi32(static_cast<int>(w.blue_red[c]));
        out.green_const[c] = _mm256_set1_epi32(static_cast<int>(w.green_bias[c]));
    }
    out.factor = _mm256_set1_epi16(w.factor);
    return out;
}

// y = T >> 8 of one output component for sixteen pixels, as 16-bit lanes.
inline __m256i component(const __m256i blue_red[2], const __m256i green_const[2], __m256i wbr,
                         __m256i wgc)
{
    const __m256i low = _mm256_add_epi32(_mm256_madd_epi16(blue_red[0], wbr),
                                         _mm256_madd_epi16(green_const[0], wgc));
    const __m256i high = _mm256_add_epi32(_mm256_madd_epi16(blue_red[1], wbr),
                                          _mm256_madd_epi16(green_const[1], wgc));
    return _mm256_packs_epi32(_mm256_srai_epi32(low, 8), _mm256_srai_epi32(high, 8));
}

template <bool with_contrast>
void run_rows(uint8_t* pixels, int width, int height, int pitch, const kernel& kn, const params& p)
{
    const __m256i low_bytes = _mm256_set1_epi32(0x00FF00FF);
    const __m256i byte_mask = _mm256_set1_epi32(0x000000FF);
    const __m256i const_128 = _mm256_set1_epi32(0x00800000); // 128 in the upper half of a lane
    const __m256i fourth_bytes = _mm256_set1_epi32(static_cast<int>(0xFF000000u));
    const __m256i plus_128 = _mm256_set1_epi16(128);
    const __m256i zero = _mm256_setzero_si256();
    const int blocks = width / 16;

    for (int row = 0; row < height; ++row) {
        uint8_t* line = pixels + static_cast<ptrdiff_t>(row) * pitch;
        for (int block = 0; block < blocks; ++block) {
            __m256i* at = reinterpret_cast<__m256i*>(line + block * 64);
            const __m256i in0 = _mm256_loadu_si256(at);
            const __m256i in1 = _mm256_loadu_si256(at + 1);
            const __m256i blue_red[2] = {_mm256_and_si256(in0, low_bytes),
                                         _mm256_and_si256(in1, low_bytes)};
            const __m256i green_const[2] = {
                _mm256_or_si256(_mm256_and_si256(_mm256_srli_epi32(in0, 8), byte_mask), const_128),
                _mm256_or_si256(_mm256_and_si256(_mm256_srli_epi32(in1, 8), byte_mask), const_128)};

            __m256i out[3]; // red, green, blue: x - 128, then x
            for (int c = 0; c < 3; ++c) {
                __m256i y = component(blue_red, green_const, kn.blue_red[c], kn.green_const[c]);
                if (with_contrast)
                    y = _mm256_mulhi_epi16(_mm256_slli_epi16(y, 2), kn.factor);
                out[c] = _mm256_add_epi16(y, plus_128);
            }

            // Clamp to bytes and interleave back into blue, green, red, fourth byte.
            const __m256i blue_then_red = _mm256_packus_epi16(out[2], out[0]);
            const __m256i green_then_zero = _mm256_packus_epi16(out[1], zero);
            const __m256i blue_green = _mm256_unpacklo_epi8(blue_then_red, green_then_zero);
            const __m256i red_zero = _mm256_unpackhi_epi8(blue_then_red, green_then_zero);
            const __m256i out0 = _mm256_or_si256(_mm256_unpacklo_epi16(blue_green, red_zero),
                                                 _mm256_and_si256(in0, fourth_bytes));
            const __m256i out1 = _mm256_or_si256(_mm256_unpackhi_epi16(blue_green, red_zero),
                                                 _mm256_and_si256(in1, fourth_bytes));
            _mm256_storeu_si256(at, out0);
            _mm256_storeu_si256(at + 1, out1);
        }
        if (blocks * 16 < width)
            apply_plain(line + blocks * 64, width - blocks * 16, 1, pitch, p);
    }
}

} // namespace

void apply_avx2(uint8_t* pixels, int width, int height, int pitch, const params& p)
{
    if (!pixels || !changes_pixels(p))
        return;
    simd_weights weights;
    if (!make_simd_weights(p, weights)) {
        apply_plain(pixels, width, height, pitch, p);
        return;
    }
    const kernel kn = make_kernel(weights);
    if (weights.contrast)
        run_rows<true>(pixels, width, height, pitch, kn, p);
    else
        run_rows<false>(pixels, width, height, pitch, kn, p);
}

} // namespace rgb_adjust
