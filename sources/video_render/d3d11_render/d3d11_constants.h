// What the Direct3D 11 backend writes into its buffers, as plain functions: the quad's
// vertices, the vertex shader's view and projection, and the pixel shader's two colour
// constant buffers.
//
// Every matrix goes into a constant buffer as 16 floats, row 1 of the CPU matrix first. The
// shaders keep HLSL's default column-major packing, so a CPU row lands in an HLSL column and
// `mul(v, m)` yields dot(v, CPU row j) as component j. The colour matrix therefore goes in as
// color_math gives it (it acts on column vectors), while the vertex stage's row-vector matrices
// go in transposed.
#pragma once

#include <cstddef>

#include "../color/color_math.h"

namespace d3d11_constants {

// One corner of the picture's rectangle: position in pixels, texture coordinate, colour.
struct quad_vertex {
    float x, y, z;
    float u, v;
    float r, g, b, a;
};
static_assert(sizeof(quad_vertex) == 36, "the input layout expects 36-byte vertices");
static_assert(offsetof(quad_vertex, u) == 12 && offsetof(quad_vertex, r) == 20,
              "the input layout's element offsets");

constexpr int quad_vertex_count = 4;

// The four corners in triangle-strip order (top-left, bottom-left, top-right, bottom-right),
// spanning width x height pixels with the whole texture.
void fill_quad(quad_vertex* vertices, float width, float height);

// VertexShaderConstants: view, then projection.
struct vertex_constants {
    float view[16];
    float projection[16];
};
static_assert(sizeof(vertex_constants) == 128, "VertexShaderConstants is 128 bytes");

// cbColorMatrix
struct color_matrix_constants {
    float colormatrix[16];
};
static_assert(sizeof(color_matrix_constants) == 64, "cbColorMatrix is 64 bytes");

// cbImageChanges; the last two floats only pad the buffer to 80 bytes and stay zero.
struct image_changes_constants {
    float contrast_matrix[16];
    float contrast;
    float bright;
    float unused[2];
};
static_assert(sizeof(image_changes_constants) == 80, "cbImageChanges is 80 bytes");
static_assert(offsetof(image_changes_constants, contrast) == 64 &&
                  offsetof(image_changes_constants, bright) == 68,
              "cbImageChanges field offsets");

// Writes the 16 floats of `m`, row 1 first.
void write_rows(const color_math::mat4& m, float* out);

// The left-handed off-centre orthographic projection of a width x height target with the
// origin at the top-left pixel, near 0 and far 1, in the row-vector convention (p * M): (0, 0)
// goes to (-1, 1), (width, height) to (1, -1).
color_math::mat4 orthographic_projection(float width, float height);

// The buffer for view and projection matrices that are already transposed for upload.
vertex_constants pack_vertex_constants(const color_math::mat4& view,
                                       const color_math::mat4& projection);

struct pixel_constants {
    color_matrix_constants color_matrix;
    image_changes_constants image_changes;
};

pixel_constants pack_pixel_constants(const color_math::shader_constants& constants);

// The two pixel-shader buffers for the four adjustment values (contrast, brightness,
// saturation, hue) and a colour class.
pixel_constants pixel_constants_for(const int adjust[4], int color_class,
                                    const color_math::hue_frame& hue);

} // namespace d3d11_constants
