#include "rgb_adjust.h"

#include <windows.h>

#include <immintrin.h>
#include <intrin.h>

#include <algorithm>
#include <cstddef>

#include "../color/color_math.h"

namespace rgb_adjust {

namespace {

constexpr int neutral = 50;

int in_range(int value)
{
    return std::min(100, std::max(0, value));
}

color_math::mat4 embed(const mat3& a)
{
    color_math::mat4 result = color_math::identity();
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            result.m[i][j] = a.m[i][j];
    return result;
}

mat3 upper_left(const color_math::mat4& a)
{
    mat3 result;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            result.m[i][j] = a.m[i][j];
    return result;
}

int clamp_component(int value)
{
    return value < 0 ? 0 : value > 255 ? 255 : value;
}

constexpr int max_y_for_contrast = 8191;   // y << 2 still fits 16 bits
constexpr int max_y_without = 32767 - 255; // y + 128 and the packs stay exact
constexpr int int16_max = 32767;

int magnitude(int value)
{
    return value < 0 ? -value : value;
}

// Two 16-bit values in one 32-bit lane, `low` first in memory.
uint32_t pair(int low, int high)
{
    return (static_cast<uint32_t>(low) & 0xFFFFu) | static_cast<uint32_t>(high) << 16;
}

} // namespace

hue_turns make_hue_turns()
{
    // The Direct3D backends turn the colour cube the same way; their 4x4 matrices carry these
    // 3x3 ones in their upper left corner.
    const color_math::hue_frame frame = color_math::make_hue_frame();
    return {upper_left(frame.pre), upper_left(frame.post)};
}

params make_params(const int values[4], const hue_turns& turns)
{
    const int contrast = in_range(values[0]);
    const int brightness = in_range(values[1]);
    const int saturation = in_range(values[2]);
    const int hue = in_range(values[3]);

    params p = {};
    p.matrix = saturation != neutral || hue != neutral;
    p.brightness = brightness != neutral;
    p.contrast = contrast != neutral;

    // The shader form of the saturation matrix acts on column vectors; its transpose is the
    // row-vector one used here.
    using namespace color_math;
    const mat4 s = transpose(saturation_matrix(saturation));
    const float angle = static_cast<float>(hue_degrees(hue)) * deg_to_rad;
    const mat4 m =
        multiply(multiply(multiply(s, embed(turns.pre)), rotation_z(angle)), embed(turns.post));
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            p.k[i][j] = static_cast<int>(m.m[i][j] * 255.0f);

    p.brightness_offset = static_cast<int>((brightness - neutral) / 100.0 * 255);
    p.contrast_factor = static_cast<int>((contrast * 0.016 + 0.2) * 255);
    return p;
}

bool changes_pixels(const params& p)
{
    return p.matrix || p.brightness || p.contrast;
}

void apply_plain(uint8_t* pixels, int width, int height, int pitch, const params& p)
{
    if (!pixels || !changes_pixels(p))
        return;
    const int(&k)[3][3] = p.k;
    const int offset = p.brightness_offset;
    const int factor = p.contrast_factor;
    for (int row = 0; row < height; ++row) {
        uint8_t* pixel = pixels + static_cast<ptrdiff_t>(row) * pitch;
        for (int col = 0; col < width; ++col, pixel += 4) {
            int b = pixel[0];
            int g = pixel[1];
            int r = pixel[2];
            if (p.matrix) {
                const int r2 = (k[0][0] * r + k[1][0] * g + k[2][0] * b) >> 8;
                const int g2 = (k[0][1] * r + k[1][1] * g + k[2][1] * b) >> 8;
                const int b2 = (k[0][2] * r + k[1][2] * g + k[2][2] * b) >> 8;
                r = r2;
                g = g2;
                b = b2;
            }
            if (p.brightness) {
                r += offset;
                g += offset;
                b += offset;
            }
            if (p.contrast) {
                r = (((r - 128) * factor) >> 8) + 128;
                g = (((g - 128) * factor) >> 8) + 128;
                b = (((b - 128) * factor) >> 8) + 128;
            }
            pixel[0] = static_cast<uint8_t>(clamp_component(b));
            pixel[1] = static_cast<uint8_t>(clamp_component(g));
            pixel[2] = static_cast<uint8_t>(clamp_component(r));
        }
    }
}

bool make_simd_weights(const params& p, simd_weights& out)
{
    int k[3][3];
    for (int i = 0; i < 3; ++i)
        for (int c = 0; c < 3; ++c)
            k[i][c] = p.matrix ? p.k[i][c] : (i == c ? 256 : 0);
    const int offset = p.brightness ? p.brightness_offset : 0;
    const int bias = 2 * (offset - 128);
    if (magnitude(bias) > int16_max)
        return false;
    if (p.contrast && (p.contrast_factor < -512 || p.contrast_factor > 511))
        return false;
    // The sums are bounded by 255 times the magnitudes of the weights.
    for (int c = 0; c < 3; ++c) {
        long long bound = 128LL * magnitude(bias);
        for (int i = 0; i < 3; ++i) {
            if (magnitude(k[i][c]) > int16_max)
                return false;
            bound += 255LL * magnitude(k[i][c]);
        }
        const long long y_bound = bound / 256 + 1;
        if (y_bound > (p.contrast ? max_y_for_contrast : max_y_without))
            return false;
        out.blue_red[c] = pair(k[2][c], k[0][c]);
        out.green_bias[c] = pair(k[1][c], bias);
    }
    out.contrast = p.contrast;
    out.factor = static_cast<int16_t>(p.contrast_factor * 64);
    return true;
}

bool sse2_available()
{
#if defined(_M_X64) || defined(__x86_64__)
    return true;
#else
    static const bool available = IsProcessorFeaturePresent(PF_XMMI64_INSTRUCTIONS_AVAILABLE) != 0;
    return available;
#endif
}

bool avx2_available()
{
    static const bool available = [] {
        int leaf[4];
        __cpuid(leaf, 0);
        if (leaf[0] < 7)
            return false;
        __cpuid(leaf, 1);
        const bool avx = (leaf[2] & (1 << 28)) != 0;
        const bool xsave_enabled = (leaf[2] & (1 << 27)) != 0;
        // The system must save the SSE and AVX halves of the registers on a thread switch.
        constexpr unsigned long long sse_and_avx_state = 0x6;
        if (!avx || !xsave_enabled || (_xgetbv(0) & sse_and_avx_state) != sse_and_avx_state)
            return false;
        __cpuidex(leaf, 7, 0);
        return (leaf[1] & (1 << 5)) != 0;
    }();
    return available;
}

void apply(uint8_t* pixels, int width, int height, int pitch, const params& p)
{
    if (avx2_available())
        apply_avx2(pixels, width, height, pitch, p);
    else if (sse2_available())
        apply_sse2(pixels, width, height, pitch, p);
    else
        apply_plain(pixels, width, height, pitch, p);
}

} // namespace rgb_adjust
