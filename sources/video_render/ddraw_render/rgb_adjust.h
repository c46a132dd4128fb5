// Contrast, brightness, saturation and hue applied on the processor to 32-bit pixels whose
// bytes are, in memory order, blue, green, red and a fourth byte that is left as it is.
//
// The arithmetic is integer throughout, with one set of parameters fixed per frame:
//   1. saturation and hue, when either is off neutral: each component becomes
//      (K[0][c] R + K[1][c] G + K[2][c] B) >> 8, where K is the row-vector matrix
//      S x pre x Rz(angle) x post times 255, truncated;
//   2. brightness, when off neutral: the offset is added to each component;
//   3. contrast, when off neutral: x becomes (((x - 128) * factor) >> 8) + 128;
//   4. each component is clamped to 0..255.
// Shifts are arithmetic (they round toward minus infinity) and nothing is clamped before
// step 4.
#pragma once

#include <cstdint>

namespace rgb_adjust {

struct mat3 {
    float m[3][3];
};

// The fixed turns around the hue rotation, row-vector convention: `pre` brings the grey
// diagonal of the colour cube near the blue axis, `post` brings it back.
struct hue_turns {
    mat3 pre;
    mat3 post;
};
hue_turns make_hue_turns();

// The integer parameters of one frame.
struct params {
    bool matrix;     // saturation or hue is off neutral
    bool brightness; // brightness is off neutral
    bool contrast;   // contrast is off neutral
    // k[i][c]: weight of input component i (0 red, 1 green, 2 blue) in output component c,
    // in 256ths.
    int k[3][3];
    int brightness_offset; // added to each component, -127..127
    int contrast_factor;   // in 256ths: 51 at contrast 0, 255 at 50, 459 at 100
};

// Parameters for the values contrast, brightness, saturation, hue (in that order), each
// 0..100 with 50 neutral; a value outside that range counts as the nearer end of it.
params make_params(const int values[4], const hue_turns& turns);

// False when all three steps are skipped and the pixels stay as they are.
bool changes_pixels(const params& p);

// Adjusts width x height pixels, the rows `pitch` bytes apart.
void apply_plain(uint8_t* pixels, int width, int height, int pitch, const params& p);

// The weights of the SIMD forms, which take each pixel as the 16-bit pairs (blue, red) and
// (green, 128) and get each output component from one multiply-add of each pair (see
// rgb_adjust_sse2.cpp): per output component c (0 red, 1 green, 2 blue) the 32-bit lanes
// (K[2][c], K[0][c]) and (K[1][c], bias), low half first, and the contrast factor << 6.
struct simd_weights {
    bool contrast;
    uint32_t blue_red[3];
    uint32_t green_bias[3];
    int16_t factor;
};

// Fills `out` and returns true when every intermediate value of the SIMD forms fits their
// 16-bit steps for any input pixel; when not, they run the plain loop.
bool make_simd_weights(const params& p, simd_weights& out);

// The same result with SSE2, eight pixels at a time. Call it only when sse2_available().
void apply_sse2(uint8_t* pixels, int width, int height, int pitch, const params& p);
bool sse2_available();

// The same result with AVX2, sixteen pixels at a time. Call it only when avx2_available():
// the processor has AVX2 and the system saves its registers.
void apply_avx2(uint8_t* pixels, int width, int height, int pitch, const params& p);
bool avx2_available();

// The fastest of the three that this processor runs.
void apply(uint8_t* pixels, int width, int height, int pitch, const params& p);

} // namespace rgb_adjust
