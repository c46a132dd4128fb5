// What the Direct3D 11 backend writes into its buffers, checked without a device by doing the
// shaders' arithmetic on the packed floats: HLSL reads each written row as a column, so a
// transposition slip in the packing shows up here as a wrong position or a wrong colour.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>

#include "color_reference.h"
#include "d3d11_render/d3d11_constants.h"

namespace {

using adjust4 = std::array<int, 4>;

// Component j of mul(v, m) for a matrix stored as 16 floats with default packing.
std::array<float, 4> mul(const std::array<float, 4>& v, const float* m)
{
    std::array<float, 4> out = {};
    for (int j = 0; j < 4; ++j)
        for (int i = 0; i < 4; ++i)
            out[j] += v[i] * m[j * 4 + i];
    return out;
}

} // namespace

TEST(d3d11_constants, the_quad_covers_the_target_with_the_whole_texture)
{
    for (const auto& size : {std::array<float, 2>{640, 360}, {1, 1}, {1366, 768}}) {
        const float width = size[0];
        const float height = size[1];
        const d3d11_constants::vertex_constants constants = d3d11_constants::pack_vertex_constants(
            color_math::transpose(color_math::identity()),
            color_math::transpose(d3d11_constants::orthographic_projection(width, height)));
        d3d11_constants::quad_vertex quad[d3d11_constants::quad_vertex_count];
        d3d11_constants::fill_quad(quad, width, height);
        for (const d3d11_constants::quad_vertex& vertex : quad) {
            const auto clip = mul(mul({vertex.x, vertex.y, vertex.z, 1.0f}, constants.view),
                                  constants.projection);
            // Texture (0, 0) at the top-left corner of clip space, (1, 1) at the bottom-right.
            EXPECT_NEAR(clip[0] / clip[3], vertex.u * 2.0f - 1.0f, 1e-5f) << width;
            EXPECT_NEAR(clip[1] / clip[3], 1.0f - vertex.v * 2.0f, 1e-5f) << height;
            EXPECT_FLOAT_EQ(clip[2], 0.0f);
        }
        // Strip order: top-left, bottom-left, top-right, bottom-right.
        EXPECT_TRUE(quad[0].u == 0 && quad[0].v == 0 && quad[1].u == 0 && quad[1].v == 1 &&
                    quad[2].u == 1 && quad[2].v == 0 && quad[3].u == 1 && quad[3].v == 1);
    }
}

TEST(d3d11_constants, the_pixel_buffers_give_the_reference_colours)
{
    const color_math::hue_frame hue = color_math::make_hue_frame();
    const adjust4 grid[] = {{50, 50, 50, 50},  {0, 50, 50, 50}, {100, 50, 50, 50}, {50, 0, 50, 50},
                            {50, 100, 50, 50}, {50, 50, 0, 50}, {50, 50, 100, 50}, {50, 50, 50, 0},
                            {50, 50, 50, 100}, {30, 65, 80, 20}};
    const std::array<int, 3> pixels[] = {{16, 128, 128}, {235, 128, 128}, {81, 90, 240},
                                         {145, 54, 34},  {41, 240, 110},  {170, 166, 16}};
    for (int color_class : {0, 1, 2, 5}) {
        for (const adjust4& adjust : grid) {
            const d3d11_constants::pixel_constants packed =
                d3d11_constants::pixel_constants_for(adjust.data(), color_class, hue);
            const d3d11_constants::image_changes_constants& changes = packed.image_changes;
            EXPECT_EQ(changes.unused[0], 0.0f);
            EXPECT_EQ(changes.unused[1], 0.0f);
            for (const auto& yuv : pixels) {
                const std::array<float, 4> c = {yuv[0] / 255.0f - 0.0627451f,
                                                yuv[1] / 255.0f - 0.501961f,
                                                yuv[2] / 255.0f - 0.501961f, 1.0f};
                std::array<float, 4> p = mul(c, packed.color_matrix.colormatrix);
                for (int i = 0; i < 3; ++i)
                    p[i] += changes.bright;
                std::array<float, 4> q = mul(p, changes.contrast_matrix);
                for (int i = 0; i < 3; ++i)
                    q[i] = std::min(1.0f, std::max(0.0f, q[i] + changes.contrast));
                const rgb8 want = expected_from_yuv(yuv[0], yuv[1], yuv[2], color_class, adjust);
                const std::string where = testing::PrintToString(adjust) + " class " +
                                          std::to_string(color_class) + " yuv " +
                                          testing::PrintToString(yuv);
                EXPECT_NEAR(q[0] * 255.0, want.r, 0.5) << where;
                EXPECT_NEAR(q[1] * 255.0, want.g, 0.5) << where;
                EXPECT_NEAR(q[2] * 255.0, want.b, 0.5) << where;
                EXPECT_NEAR(q[3], 1.0f, 1e-5f) << where;
            }
        }
    }
}
