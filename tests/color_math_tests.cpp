// The shared colour constants and the quad geometry, without a device.
#include <gtest/gtest.h>

#include <cmath>

#include "color/color_math.h"
#include "color_reference.h"
#include "d3dx9_render/display_hwdirect.h"
#include "d3dx9_render/quad_geometry.h"

using namespace color_math;

namespace {

void expect_near_matrix(const mat4& a, const mat4& b, float tolerance)
{
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            EXPECT_NEAR(a.m[i][j], b.m[i][j], tolerance) << "row " << i << " column " << j;
}

// What the shaders compute for one pixel p, in 0..255.
std::array<float, 3> shade(const shader_constants& c, const std::array<float, 4>& p)
{
    std::array<float, 4> q = {};
    for (int i = 0; i < 4; ++i) {
        for (int k = 0; k < 4; ++k)
            q[i] += c.color.m[i][k] * p[k];
        if (i < 3)
            q[i] += c.bright;
    }
    std::array<float, 3> out = {};
    for (int i = 0; i < 3; ++i) {
        float v = c.contrast;
        for (int k = 0; k < 4; ++k)
            v += c.contrast_matrix.m[i][k] * q[k];
        out[i] = std::fmin(std::fmax(v, 0.0f), 1.0f) * 255.0f;
    }
    return out;
}

std::array<float, 4> offset_yuv(int y, int u, int v)
{
    return {y / 255.0f - 0.0627451f, u / 255.0f - 0.5019608f, v / 255.0f - 0.5019608f, 1.0f};
}

} // namespace

TEST(color_math, neutral_adjustment_is_the_plain_conversion)
{
    const hue_frame frame = make_hue_frame();
    const shader_constants c = yuv_constants({50, 50, 50, 50}, 0, frame);
    expect_near_matrix(c.color, yuv_to_rgb(0), 1e-5f);
    expect_near_matrix(c.contrast_matrix, identity(), 1e-6f);
    EXPECT_EQ(c.contrast, 0.0f);
    EXPECT_EQ(c.bright, 0.0f);

    const auto black = shade(c, offset_yuv(16, 128, 128));
    const auto white = shade(c, offset_yuv(235, 128, 128));
    for (int i = 0; i < 3; ++i) {
        EXPECT_NEAR(black[i], 0.0f, 0.01f);
        EXPECT_NEAR(white[i], 255.0f, 0.5f);
    }
}

TEST(color_math, colour_classes_pick_their_coefficients)
{
    EXPECT_FLOAT_EQ(yuv_to_rgb(1).m[0][2], 1.7927f);
    EXPECT_FLOAT_EQ(yuv_to_rgb(2).m[1][1], -0.1881f);
    EXPECT_FLOAT_EQ(yuv_to_rgb(0).m[2][1], 2.0172f);
    expect_near_matrix(yuv_to_rgb(7), yuv_to_rgb(0), 0.0f);
    expect_near_matrix(yuv_to_rgb(-1), yuv_to_rgb(0), 0.0f);
}

TEST(color_math, adjustment_formulas_at_their_ends)
{
    EXPECT_EQ(hue_degrees(50), 0);
    EXPECT_EQ(hue_degrees(0), -180);
    EXPECT_EQ(hue_degrees(100), 180);
    EXPECT_EQ(hue_degrees(1), -177);
    EXPECT_FLOAT_EQ(contrast_gain(0), 0.2f);
    EXPECT_FLOAT_EQ(contrast_gain(100), 1.8f);
    EXPECT_FLOAT_EQ(contrast_offset(contrast_gain(0)), 0.4f);
    EXPECT_FLOAT_EQ(brightness_offset(100), 0.5f);
    EXPECT_FLOAT_EQ(brightness_offset(0), -0.5f);
    EXPECT_FLOAT_EQ(brightness_offset(51), 0.01f);
    EXPECT_FLOAT_EQ(saturation_matrix(100).m[0][0], 0.3086f * -3.0f + 4.0f);
    // A negative saturation is not squared.
    EXPECT_FLOAT_EQ(saturation_matrix(-10).m[1][1], 0.6094f * 1.2f - 0.2f);
}

TEST(color_math, hue_0_and_100_turn_the_same_way)
{
    const hue_frame frame = make_hue_frame();
    expect_near_matrix(hue_matrix(0, frame), hue_matrix(100, frame), 1e-5f);
    expect_near_matrix(hue_matrix(50, frame), identity(), 1e-5f);
}

TEST(color_math, saturation_0_gives_the_weighted_grey)
{
    const hue_frame frame = make_hue_frame();
    const shader_constants c = rgb_constants({50, 50, 0, 50}, frame);
    const auto out = shade(c, {1.0f, 0.5f, 0.0f, 1.0f});
    const float grey = (0.3086f + 0.6094f * 0.5f) * 255.0f;
    for (float channel : out)
        EXPECT_NEAR(channel, grey, 0.01f);
}

TEST(color_math, constants_agree_with_the_double_precision_reference)
{
    const hue_frame frame = make_hue_frame();
    const int values[][4] = {{50, 50, 50, 50},  {0, 50, 50, 50},   {100, 50, 50, 50},
                             {50, 0, 50, 50},   {50, 100, 50, 50}, {50, 50, 0, 50},
                             {50, 50, 100, 50}, {50, 50, 50, 0},   {50, 50, 50, 25},
                             {30, 70, 20, 90},  {100, 0, 100, 0}};
    const int colours[][3] = {{81, 90, 240}, {145, 54, 34}, {41, 240, 110}, {126, 128, 128}};
    for (const auto& v : values)
        for (int color_class = 0; color_class < 3; ++color_class)
            for (const auto& yuv : colours) {
                const std::array<int, 4> adjust = {v[0], v[1], v[2], v[3]};
                const auto out = shade(yuv_constants(adjust_from(v), color_class, frame),
                                       offset_yuv(yuv[0], yuv[1], yuv[2]));
                const rgb8 want = expected_from_yuv(yuv[0], yuv[1], yuv[2], color_class, adjust);
                EXPECT_NEAR(out[0], want.r, 0.6);
                EXPECT_NEAR(out[1], want.g, 0.6);
                EXPECT_NEAR(out[2], want.b, 0.6);
            }
}

TEST(quad_geometry, positions_sit_half_a_pixel_up_and_left)
{
    const quad_positions p = positions_for(RECT{0, 0, 640, 480});
    EXPECT_EQ(p[0].x, -0.5f);
    EXPECT_EQ(p[0].y, -0.5f);
    EXPECT_EQ(p[2].x, 639.5f);
    EXPECT_EQ(p[2].y, 479.5f);
    EXPECT_EQ(p[3].x, -0.5f);
    EXPECT_EQ(p[3].y, 479.5f);
    EXPECT_EQ(p[1].rhw, 1.0f);
}

TEST(quad_geometry, flips_swap_the_texture_corners)
{
    const RECT src = {0, 0, 100, 50};
    const quad_tex_coords plain = tex_coords_for(src, 0.01f, 0.02f, 0);
    EXPECT_EQ(plain[1].u, 1.0f);
    EXPECT_EQ(plain[2].v, 1.0f);
    const quad_tex_coords vertical = tex_coords_for(src, 0.01f, 0.02f, flip_vertical);
    EXPECT_EQ(vertical[0].v, 1.0f);
    EXPECT_EQ(vertical[3].v, 0.0f);
    const quad_tex_coords both = tex_coords_for(src, 0.01f, 0.02f, 3);
    // Both flips turn the picture by 180 degrees: each corner takes the opposite one.
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(both[i].u, plain[(i + 2) % 4].u);
        EXPECT_EQ(both[i].v, plain[(i + 2) % 4].v);
    }
}

TEST(quad_geometry, diffuse_carries_the_opacity)
{
    EXPECT_EQ(diffuse_for(1.0f), 0xFFFFFFFFu);
    EXPECT_EQ(diffuse_for(0.5f), 0x7FFFFFFFu);
    EXPECT_EQ(diffuse_for(0.0f), 0x00FFFFFFu);
}

TEST(dxva2_copy, crops_round_toward_zero_to_even_and_tall_pictures_lose_two_lines)
{
    const RECT crop = {101, 51, 901, 601};
    const RECT cropped = dxva2_copy_rect(&crop, 1920, 1088);
    EXPECT_EQ(cropped.left, 100);
    EXPECT_EQ(cropped.top, 50);
    EXPECT_EQ(cropped.right, 900);
    EXPECT_EQ(cropped.bottom, 600);
    const RECT tall = dxva2_copy_rect(nullptr, 1920, 1088);
    EXPECT_EQ(tall.top, 2);
    EXPECT_EQ(tall.bottom, 1086);
    EXPECT_EQ(tall.right, 1920);
    const RECT hd = dxva2_copy_rect(nullptr, 1280, 720);
    EXPECT_EQ(hd.top, 0);
    EXPECT_EQ(hd.bottom, 720);
}
