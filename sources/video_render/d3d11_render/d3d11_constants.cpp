#include "d3d11_constants.h"

namespace d3d11_constants {

void fill_quad(quad_vertex* vertices, float width, float height)
{
    const quad_vertex corners[quad_vertex_count] = {
        {0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 1.0f, 0.0f, 1.0f},
        {0.0f, height, 0.0f, 0.0f, 1.0f, 0.0f, 1.0f, 0.0f, 1.0f},
        {width, 0.0f, 0.0f, 1.0f, 0.0f, 0.0f, 1.0f, 0.0f, 1.0f},
        {width, height, 0.0f, 1.0f, 1.0f, 0.0f, 1.0f, 0.0f, 1.0f},
    };
    for (int i = 0; i < quad_vertex_count; ++i)
        vertices[i] = corners[i];
}

void write_rows(const color_math::mat4& m, float* out)
{
    for (int row = 0; row < 4; ++row)
        for (int column = 0; column < 4; ++column)
            out[row * 4 + column] = m.m[row][column];
}

color_math::mat4 orthographic_projection(float width, float height)
{
    color_math::mat4 result = color_math::identity();
    result.m[0][0] = 2.0f / width;
    result.m[1][1] = -2.0f / height;
    result.m[3][0] = -1.0f;
    result.m[3][1] = 1.0f;
    return result;
}

vertex_constants pack_vertex_constants(const color_math::mat4& view,
                                       const color_math::mat4& projection)
{
    vertex_constants result = {};
    write_rows(view, result.view);
    write_rows(projection, result.projection);
    return result;
}

pixel_constants pack_pixel_constants(const color_math::shader_constants& constants)
{
    pixel_constants result = {};
    write_rows(constants.color, result.color_matrix.colormatrix);
    write_rows(constants.contrast_matrix, result.image_changes.contrast_matrix);
    result.image_changes.contrast = constants.contrast;
    result.image_changes.bright = constants.bright;
    return result;
}

pixel_constants pixel_constants_for(const int adjust[4], int color_class,
                                    const color_math::hue_frame& hue)
{
    return pack_pixel_constants(
        color_math::yuv_constants(color_math::adjust_from(adjust), color_class, hue));
}

} // namespace d3d11_constants
