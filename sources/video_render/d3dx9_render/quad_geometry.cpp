#include "quad_geometry.h"

#include <utility>

quad_positions positions_for(const RECT& dst)
{
    const float left = static_cast<float>(dst.left) - 0.5f;
    const float top = static_cast<float>(dst.top) - 0.5f;
    const float right = static_cast<float>(dst.right) - 0.5f;
    const float bottom = static_cast<float>(dst.bottom) - 0.5f;
    return {{{left, top, 0.0f, 1.0f},
             {right, top, 0.0f, 1.0f},
             {right, bottom, 0.0f, 1.0f},
             {left, bottom, 0.0f, 1.0f}}};
}

quad_tex_coords tex_coords_for(const RECT& src, float inv_width, float inv_height, int flip_flags)
{
    const float left = static_cast<float>(src.left) * inv_width;
    const float top = static_cast<float>(src.top) * inv_height;
    const float right = static_cast<float>(src.right) * inv_width;
    const float bottom = static_cast<float>(src.bottom) * inv_height;
    quad_tex_coords coords = {{{left, top}, {right, top}, {right, bottom}, {left, bottom}}};
    if (flip_flags & flip_vertical) {
        std::swap(coords[0], coords[3]);
        std::swap(coords[1], coords[2]);
    }
    if (flip_flags & flip_horizontal) {
        std::swap(coords[0], coords[1]);
        std::swap(coords[2], coords[3]);
    }
    return coords;
}

uint32_t diffuse_for(float alpha)
{
    return static_cast<uint32_t>(static_cast<int>(alpha * 255.0f)) << 24 | 0x00FFFFFFu;
}
