// The SSE2 form of apply_plain. It gives the same bytes: every step is the same integer
// arithmetic, rearranged only where the rearrangement is exact.
//
// Eight pixels go through at a time. Each pixel is split into the 16-bit pairs (blue, red)
// and (green, 128); one _mm_madd_epi16 per pair and output component gives the matrix sums
// in 32 bits, and the second pair carries the brightness and the -128 of the contrast step
// in its constant:
//   T = K[2][c] B + K[0][c] R + K[1][c] G + 128 * 2 * (offset - 128)
//   y = T >> 8 = ((K[..][c] . RGB) >> 8) + offset - 128     (exact: 256 * n moves out whole)
// Without saturation and hue the matrix is 256 times the identity, so y = x + offset - 128.
// Contrast then needs (y * factor) >> 8, which is _mm_mulhi_epi16(y << 2, factor << 6) as
// long as both fit 16 bits; the final + 128 and the saturating packs clamp to 0..255.
//
// This file is the only one built with SSE2 enabled on 32-bit x86, and it uses nothing but
// the intrinsics, so no code compiled for SSE2 is shared with the rest of the library.
#include <emmintrin.h>

#include <cstddef>

#include "rgb_adjust.h"

namespace rgb_adjust {

namespace {

struct kernel {
    bool contrast;
    __m128i blue_red[3];    // per output component: (K blue, K red)
    __m128i green_const[3]; // per output component: (K green, bias)
    __m128i factor;         // contrast factor << 6
};

kernel make_kernel(const simd_weights& w)
{
    kernel out;
    for (int c = 0; c < 3; ++c) {
        out.blue_red[c] = _mm_set1_epi32(static_cast<int>(w.blue_red[c]));
        out.green_const[c] = _mm_set1_epi32(static_cast<int>(w.green_bias[c]));
    }
    out.contrast = w.contrast;
    out.factor = _mm_set1_epi16(w.factor);
    return out;
}

// y = T >> 8 of one output component for eight pixels, as 16-bit lanes.
inline __m128i component(const __m128i blue_red[2], const __m128i green_const[2], __m128i wbr,
                         __m128i wgc)
{
    const __m128i low =
        _mm_add_epi32(_mm_madd_epi16(blue_red[0], wbr), _mm_madd_epi16(green_const[0], wgc));
    const __m128i high =
        _mm_add_epi32(_mm_madd_epi16(blue_red[1], wbr), _mm_madd_epi16(green_const[1], wgc));
    return _mm_packs_epi32(_mm_srai_epi32(low, 8), _mm_srai_epi32(high, 8));
}

template <bool with_contrast>
void run_rows(uint8_t* pixels, int width, int height, int pitch, const kernel& kn, const params& p)
{
    const __m128i low_bytes = _mm_set1_epi32(0x00FF00FF);
    const __m128i byte_mask = _mm_set1_epi32(0x000000FF);
    const __m128i const_128 = _mm_set1_epi32(0x00800000); // 128 in the upper half of a lane
    const __m128i fourth_bytes = _mm_set1_epi32(static_cast<int>(0xFF000000u));
    const __m128i plus_128 = _mm_set1_epi16(128);
    const __m128i zero = _mm_setzero_si128();
    const int blocks = width / 8;

    for (int row = 0; row < height; ++row) {
        uint8_t* line = pixels + static_cast<ptrdiff_t>(row) * pitch;
        for (int block = 0; block < blocks; ++block) {
            __m128i* at = reinterpret_cast<__m128i*>(line + block * 32);
            const __m128i in0 = _mm_loadu_si128(at);
            const __m128i in1 = _mm_loadu_si128(at + 1);
            const __m128i blue_red[2] = {_mm_and_si128(in0, low_bytes),
                                         _mm_and_si128(in1, low_bytes)};
            const __m128i green_const[2] = {
                _mm_or_si128(_mm_and_si128(_mm_srli_epi32(in0, 8), byte_mask), const_128),
                _mm_or_si128(_mm_and_si128(_mm_srli_epi32(in1, 8), byte_mask), const_128)};

            __m128i out[3]; // red, green, blue: x - 128, then x
            for (int c = 0; c < 3; ++c) {
                __m128i y = component(blue_red, green_const, kn.blue_red[c], kn.green_const[c]);
                if (with_contrast)
                    y = _mm_mulhi_epi16(_mm_slli_epi16(y, 2), kn.factor);
                out[c] = _mm_add_epi16(y, plus_128);
            }

            // Clamp to bytes and interleave back into blue, green, red, fourth byte.
            const __m128i blue_then_red = _mm_packus_epi16(out[2], out[0]);
            const __m128i green_then_zero = _mm_packus_epi16(out[1], zero);
            const __m128i blue_green = _mm_unpacklo_epi8(blue_then_red, green_then_zero);
            const __m128i red_zero = _mm_unpackhi_epi8(blue_then_red, green_then_zero);
            const __m128i out0 = _mm_or_si128(_mm_unpacklo_epi16(blue_green, red_zero),
                                              _mm_and_si128(in0, fourth_bytes));
            const __m128i out1 = _mm_or_si128(_mm_unpackhi_epi16(blue_green, red_zero),
                                              _mm_and_si128(in1, fourth_bytes));
            _mm_storeu_si128(at, out0);
            _mm_storeu_si128(at + 1, out1);
        }
        if (blocks * 8 < width)
            apply_plain(line + blocks * 32, width - blocks * 8, 1, pitch, p);
    }
}

} // namespace

void apply_sse2(uint8_t* pixels, int width, int height, int pitch, const params& p)
{
    if (!pixels || !(p.matrix || p.brightness || p.contrast))
        return;
    simd_weights weights;
    if (!make_simd_weights(p, weights)) {
        apply_plain(pixels, width, height, pitch, p);
        return;
    }
    const kernel kn = make_kernel(weights);
    if (kn.contrast)
        run_rows<true>(pixels, width, height, pitch, kn, p);
    else
        run_rows<false>(pixels, width, height, pitch, kn, p);
}

} // namespace rgb_adjust
