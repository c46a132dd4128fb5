// Arithmetic that needs no device: the colour reference itself and the DirectDraw backend's
// adjustment on the processor.
#include <gtest/gtest.h>

#include "color_reference.h"
#include "ddraw_render/rgb_adjust.h"

namespace {

using rgb_adjust::params;
using bgrx = std::array<int, 4>; // memory order: blue, green, red, fourth byte

params params_for(int contrast, int brightness, int saturation, int hue)
{
    const int values[4] = {contrast, brightness, saturation, hue};
    return rgb_adjust::make_params(values, rgb_adjust::make_hue_turns());
}

bgrx adjusted(const bgrx& in, const params& p)
{
    uint8_t pixel[4] = {uint8_t(in[0]), uint8_t(in[1]), uint8_t(in[2]), uint8_t(in[3])};
    rgb_adjust::apply_plain(pixel, 1, 1, 4, p);
    return {pixel[0], pixel[1], pixel[2], pixel[3]};
}

} // namespace

TEST(color_reference, gives_the_published_75_percent_colour_bars)
{
    // Yellow, cyan, green, magenta, red, blue of 75% bars, 8-bit limited range.
    const int bars[2][6][3] = {{{162, 44, 142},
                                {131, 156, 44},
                                {112, 72, 58},
                                {84, 184, 198},
                                {65, 100, 212},
                                {35, 212, 114}},
                               {{168, 44, 136},
                                {145, 147, 44},
                                {134, 63, 52},
                                {63, 193, 204},
                                {51, 109, 212},
                                {28, 212, 120}}};
    const int lit[6] = {0b110, 0b011, 0b010, 0b101, 0b100, 0b001}; // red, green, blue bits
    for (int standard : {0, 1})
        for (int i = 0; i < 6; ++i) {
            const int* c = bars[standard][i];
            const rgb8 got = expected_from_yuv(c[0], c[1], c[2], standard, neutral_adjust);
            const double channels[3] = {got.r, got.g, got.b};
            for (int k = 0; k < 3; ++k)
                EXPECT_NEAR(channels[k], lit[i] >> (2 - k) & 1 ? 191.25 : 0.0, 1.5)
                    << standard << " bar " << i;
        }
}

TEST(rgb_adjust, known_pixels_through_each_step)
{
    // Brightness adds its offset; the clamp comes last; the fourth byte stays.
    EXPECT_EQ(adjusted({10, 100, 200, 77}, params_for(50, 100, 50, 50)), (bgrx{137, 227, 255, 77}));
    EXPECT_EQ(adjusted({130, 200, 127, 3}, params_for(50, 0, 50, 50)), (bgrx{3, 73, 0, 3}));
    // Contrast: ((x - 128) * 51) >> 8 is -26 for x = 0 (a division would give -25).
    EXPECT_EQ(adjusted({0, 255, 128, 0}, params_for(0, 50, 50, 50)), (bgrx{102, 153, 128, 0}));
    EXPECT_EQ(adjusted({0, 200, 127, 255}, params_for(100, 50, 50, 50)), (bgrx{0, 255, 126, 255}));
    // Saturation 100: grey loses a step to the 255 scale.
    const params saturated = params_for(50, 50, 100, 50);
    EXPECT_EQ(adjusted({100, 100, 100, 1}, saturated), (bgrx{99, 99, 99, 1}));
    EXPECT_EQ(adjusted({50, 100, 200, 2}, saturated), (bgrx{0, 19, 255, 2}));
    // All steps, nothing clamped between them: blue -180 + 127 = -53, ((-181 * 51) >> 8) + 128.
    EXPECT_EQ(adjusted({50, 100, 200, 2}, params_for(0, 100, 100, 50)), (bgrx{91, 131, 210, 2}));
    // Without saturation and hue the components do not go through the matrix.
    EXPECT_EQ(adjusted({1, 128, 254, 0}, params_for(50, 51, 50, 50)), (bgrx{3, 130, 255, 0}));
}

TEST(rgb_adjust, simd_forms_match_the_plain_loop_on_every_colour_and_tail_and_leave_the_pitch_alone)
{
    ASSERT_TRUE(rgb_adjust::sse2_available());
    // Without AVX2 here, only the SSE2 form is compared.
    const bool avx2 = rgb_adjust::avx2_available();
    const int values[][4] = {
        {0, 50, 50, 50},  {100, 50, 50, 50},    {50, 0, 50, 50},   {50, 100, 50, 50},
        {50, 50, 0, 50},  {50, 50, 100, 50},    {50, 50, 50, 0},   {50, 50, 50, 100},
        {0, 0, 0, 0},     {100, 100, 100, 100}, {0, 100, 100, 25}, {100, 0, 51, 75},
        {49, 51, 50, 50}, {25, 75, 40, 60},     {100, 100, 0, 0},  {0, 0, 100, 100}};
    for (int set = 0; set < 16; ++set) {
        // Every colour once, the fourth byte varied, in rows that leave 0 to 15 pixels to the
        // plain tail and have an odd number of spare bytes behind them.
        const int width = 4080 + set, pitch = width * 4 + 3 + 2 * (set % 5);
        const int rows = (1 << 24) / width + 1;
        std::vector<uint8_t> source(size_t(pitch) * rows, 0x5A);
        for (uint32_t i = 0; i < (1u << 24); ++i)
            for (int byte = 0; byte < 4; ++byte)
                source[i / width * pitch + i % width * 4 + byte] =
                    uint8_t(byte < 3 ? i >> (8 * byte) : i * 7 + 3);
        const int* v = values[set];
        const params p = params_for(v[0], v[1], v[2], v[3]);
        std::vector<uint8_t> plain = source;
        rgb_adjust::apply_plain(plain.data(), width, rows, pitch, p);
        for (const auto form : {rgb_adjust::apply_sse2, rgb_adjust::apply_avx2}) {
            if (form == rgb_adjust::apply_avx2 && !avx2)
                continue;
            std::vector<uint8_t> simd = source;
            form(simd.data(), width, rows, pitch, p);
            ASSERT_TRUE(plain == simd) << (form == rgb_adjust::apply_avx2 ? "AVX2 " : "SSE2 ")
                                       << v[0] << " " << v[1] << " " << v[2] << " " << v[3];
        }
        for (int row = 0; row < rows; ++row)
            for (int spare = width * 4; spare < pitch; ++spare)
                ASSERT_EQ(plain[size_t(row) * pitch + spare], 0x5A);
    }
}
