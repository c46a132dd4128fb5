// The DirectDraw backend's colour adjustment on the processor: the integer parameters, the
// arithmetic on known pixels, and the SSE2 form against the plain one.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <random>
#include <utility>
#include <vector>

#include "ddraw_render/rgb_adjust.h"

namespace {

using rgb_adjust::params;
using bgrx = std::array<int, 4>; // memory order: blue, green, red, fourth byte
using mat3d = std::array<std::array<double, 3>, 3>;

params params_for(int contrast, int brightness, int saturation, int hue)
{
    const int values[4] = {contrast, brightness, saturation, hue};
    return rgb_adjust::make_params(values, rgb_adjust::make_hue_turns());
}

bgrx adjusted(const bgrx& in, const params& p)
{
    uint8_t pixel[4];
    for (int i = 0; i < 4; ++i)
        pixel[i] = static_cast<uint8_t>(in[i]);
    rgb_adjust::apply_plain(pixel, 1, 1, 4, p);
    return {pixel[0], pixel[1], pixel[2], pixel[3]};
}

mat3d times(const mat3d& a, const mat3d& b)
{
    mat3d product = {};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            for (int k = 0; k < 3; ++k)
                product[i][j] += a[i][k] * b[k][j];
    return product;
}

// A row-vector rotation about axis 0, 1 or 2 by `degrees`.
mat3d turn(int axis, double degrees)
{
    const double c = std::cos(degrees * 3.14159265358979323846 / 180);
    const double s = std::sin(degrees * 3.14159265358979323846 / 180);
    if (axis == 0)
        return {{{1, 0, 0}, {0, c, s}, {0, -s, c}}};
    if (axis == 1)
        return {{{c, 0, -s}, {0, 1, 0}, {s, 0, c}}};
    return {{{c, s, 0}, {-s, c, 0}, {0, 0, 1}}};
}

std::vector<uint8_t> random_bytes(size_t count, unsigned seed)
{
    std::mt19937 generator(seed);
    std::vector<uint8_t> bytes(count);
    for (uint8_t& byte : bytes)
        byte = static_cast<uint8_t>(generator());
    return bytes;
}

} // namespace

TEST(rgb_adjust, parameters_of_brightness_contrast_and_saturation)
{
    EXPECT_EQ(params_for(50, 100, 50, 50).brightness_offset, 127);
    EXPECT_EQ(params_for(50, 0, 50, 50).brightness_offset, -127);
    EXPECT_EQ(params_for(50, 53, 50, 50).brightness_offset, 7);
    EXPECT_EQ(params_for(0, 50, 50, 50).contrast_factor, 51);
    EXPECT_EQ(params_for(100, 50, 50, 50).contrast_factor, 459);
    EXPECT_EQ(params_for(50, 50, 50, 50).contrast_factor, 255);
    EXPECT_FALSE(rgb_adjust::changes_pixels(params_for(50, 50, 50, 50)));
    // Out of range counts as the nearer end.
    EXPECT_EQ(params_for(-20, 101, 50, 50).contrast_factor, 51);
    EXPECT_EQ(params_for(-20, 101, 50, 50).brightness_offset, 127);

    // Saturation 100 at neutral hue: the turns cancel and K is trunc(255 S) with s = 4.
    const params p = params_for(50, 50, 100, 50);
    const int want[3][3] = {{783, -236, -236}, {-466, 553, -466}, {-62, -62, 957}};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            EXPECT_EQ(p.k[i][j], want[i][j]) << i << "," << j;
}

TEST(rgb_adjust, the_matrix_is_saturation_then_the_turned_hue_rotation)
{
    // S x Rx(45) x Ry(-35) x Rz(angle) x Ry(35) x Rx(-45) in double precision.
    for (int saturation = 0; saturation <= 100; saturation += 10)
        for (int hue = 0; hue <= 100; hue += 5) {
            double s = saturation * 0.02;
            s = saturation > 0 ? s * s : s;
            const double w[3] = {0.3086, 0.6094, 0.0820};
            mat3d m = {};
            for (int i = 0; i < 3; ++i)
                for (int j = 0; j < 3; ++j)
                    m[i][j] = w[i] * (1 - s) + (i == j ? s : 0);
            const std::pair<int, int> turns[] = {
                {0, 45}, {1, -35}, {2, (18 * hue) / 5 - 180}, {1, 35}, {0, -45}};
            for (const auto& t : turns)
                m = times(m, turn(t.first, t.second));
            const params p = params_for(50, 50, saturation, hue);
            for (int i = 0; i < 3; ++i)
                for (int j = 0; j < 3; ++j) // single precision: at most one truncation step off
                    ASSERT_LE(std::abs(p.k[i][j] - static_cast<int>(m[i][j] * 255)), 1)
                        << saturation << " " << hue << " at " << i << "," << j;
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
    // Saturation 100: grey loses a step to the 255 scale; orange gives R' = 106900 >> 8,
    // G' = 5000 >> 8, B' = -45950 >> 8 = -180.
    const params saturated = params_for(50, 50, 100, 50);
    EXPECT_EQ(adjusted({100, 100, 100, 1}, saturated), (bgrx{99, 99, 99, 1}));
    EXPECT_EQ(adjusted({50, 100, 200, 2}, saturated), (bgrx{0, 19, 255, 2}));
    // All steps, nothing clamped between them: blue -180 + 127 = -53, ((-181 * 51) >> 8) + 128.
    EXPECT_EQ(adjusted({50, 100, 200, 2}, params_for(0, 100, 100, 50)), (bgrx{91, 131, 210, 2}));
    // Without saturation and hue the components do not go through the matrix.
    EXPECT_EQ(adjusted({1, 128, 254, 0}, params_for(50, 51, 50, 50)), (bgrx{3, 130, 255, 0}));
}

TEST(rgb_adjust, sse2_matches_the_plain_loop_on_every_colour_at_the_edge_values)
{
    ASSERT_TRUE(rgb_adjust::sse2_available());
    // Every 24-bit colour once, with a varying fourth byte.
    std::vector<uint8_t> cube(size_t(4) << 24);
    for (uint32_t i = 0; i < (1u << 24); ++i)
        for (int byte = 0; byte < 4; ++byte)
            cube[i * 4 + byte] = static_cast<uint8_t>(byte < 3 ? i >> (8 * byte) : i * 7 + 3);
    const int edges[][4] = {{0, 50, 50, 50},      {100, 50, 50, 50}, {50, 0, 50, 50},
                            {50, 100, 50, 50},    {50, 50, 0, 50},   {50, 50, 100, 50},
                            {50, 50, 50, 0},      {50, 50, 50, 100}, {0, 0, 0, 0},
                            {100, 100, 100, 100}, {0, 100, 100, 0},  {100, 0, 0, 100},
                            {100, 100, 100, 25},  {100, 0, 100, 75}, {1, 99, 51, 49}};
    std::vector<uint8_t> plain(cube.size());
    std::vector<uint8_t> simd(cube.size());
    for (const auto& v : edges) {
        const params p = params_for(v[0], v[1], v[2], v[3]);
        plain = cube;
        simd = cube;
        rgb_adjust::apply_plain(plain.data(), 4096, 4096, 4096 * 4, p);
        rgb_adjust::apply_sse2(simd.data(), 4096, 4096, 4096 * 4, p);
        ASSERT_TRUE(plain == simd) << v[0] << " " << v[1] << " " << v[2] << " " << v[3];
    }
}

TEST(rgb_adjust, sse2_matches_the_plain_loop_on_random_rows_over_a_grid_of_values)
{
    // Widths that leave 0 to 7 pixels to the plain tail, and rows with spare bytes behind them
    // that must stay as they are.
    const int grid[] = {0, 1, 25, 49, 50, 51, 75, 99, 100};
    for (int width = 29; width <= 36; ++width) {
        const int pitch = width * 4 + 12;
        const std::vector<uint8_t> source = random_bytes(size_t(pitch) * 3, width);
        for (int c : grid)
            for (int b : grid)
                for (int s : grid)
                    for (int h : grid) {
                        const params p = params_for(c, b, s, h);
                        std::vector<uint8_t> plain = source;
                        std::vector<uint8_t> simd = source;
                        std::vector<uint8_t> chosen = source;
                        rgb_adjust::apply_plain(plain.data(), width, 3, pitch, p);
                        rgb_adjust::apply_sse2(simd.data(), width, 3, pitch, p);
                        rgb_adjust::apply(chosen.data(), width, 3, pitch, p);
                        ASSERT_TRUE(plain == simd && plain == chosen)
                            << width << ": " << c << " " << b << " " << s << " " << h;
                        if (!rgb_adjust::changes_pixels(p)) {
                            ASSERT_TRUE(plain == source);
                        }
                        for (int row = 0; row < 3; ++row)
                            for (int spare = width * 4; spare < pitch; ++spare)
                                ASSERT_EQ(simd[row * pitch + spare], source[row * pitch + spare]);
                    }
    }
}
