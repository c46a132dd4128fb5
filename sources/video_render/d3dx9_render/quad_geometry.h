// The textured quad that a presentation strategy draws: corner positions in back-buffer
// pixels and texture coordinates in the picture, corners in the order top-left, top-right,
// bottom-right, bottom-left.
#pragma once

#include <windows.h>

#include <array>
#include <cstdint>

struct quad_position {
    float x, y, z, rhw;
};

struct quad_tex_coord {
    float u, v;
};

using quad_positions = std::array<quad_position, 4>;
using quad_tex_coords = std::array<quad_tex_coord, 4>;

enum flip_flag : int { flip_vertical = 1, flip_horizontal = 2 };

// Corners of `dst`, moved by half a pixel so that texels map onto pixels one to one.
quad_positions positions_for(const RECT& dst);

// Texture coordinates of `src` in a picture of 1/inv_width x 1/inv_height pixels, flipped
// vertically by bit 0 of flip_flags and then horizontally by bit 1.
quad_tex_coords tex_coords_for(const RECT& src, float inv_width, float inv_height, int flip_flags);

// Vertex colour of an opacity: alpha in the top byte, white below.
uint32_t diffuse_for(float alpha);

inline bool same_rect(const RECT& a, const RECT& b)
{
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}
