// Where the Direct3D 9 overlay renderer puts its primitives, in window pixels before the
// zoom: figure points, ellipse outlines, the inner-ellipse layouts, the direction mark's
// frame and the white bitmap behind highlighted texts; and the 2D transforms (zoom, reference
// scaling, the mark's frame) that take them to the back buffer.
#pragma once

#include <d3dx9.h>

#include <array>
#include <cstdint>
#include <vector>

#include "../kx_vidrender.h"

// A figure point in window pixels: in ten-thousandths of the window unless it carries its
// own references, kept one pixel inside the window.
D3DXVECTOR2 map_figure_point(const overlay_point& point, uint32_t width, uint32_t height);

// 72 points of an ellipse, 5 degrees apart, and the first again to close it.
std::array<D3DXVECTOR2, 73> ellipse_outline(D3DXVECTOR2 centre, float rx, float ry);

struct inner_ellipse {
    D3DXVECTOR2 centre;
    float rx;
    float ry;
};

// The ellipses inside a rectangle's bounding box: one filling it (layout 0), three side by
// side (1) or three stacked (2); none for other layouts.
std::vector<inner_ellipse> inner_ellipse_layout(uint32_t layout, D3DXVECTOR2 max, D3DXVECTOR2 min);

// A 2D affine transform of row vectors, as D3DX's matrices: a point p becomes
// (p.x * m11 + p.y * m21 + dx, p.x * m12 + p.y * m22 + dy).
struct affine2d {
    float m11 = 1.0f, m12 = 0.0f;
    float m21 = 0.0f, m22 = 1.0f;
    float dx = 0.0f, dy = 0.0f;
};
affine2d translation(float x, float y);
affine2d scaling(float x, float y);
// `first`, then `second`.
affine2d then(const affine2d& first, const affine2d& second);
D3DXVECTOR2 apply(const affine2d& transform, D3DXVECTOR2 point);
// The same transform as the 4 x 4 matrix a D3DX sprite takes.
D3DXMATRIX as_matrix(const affine2d& transform);

// The frame of a direction mark: its x axis runs across the line `direction`, its origin is
// the line's midpoint `centre`.
affine2d direction_mark_frame(D3DXVECTOR2 centre, D3DXVECTOR2 direction);

// A 240 x 22 white 24-bit Windows bitmap file: the texture behind highlighted texts.
std::vector<uint8_t> white_bitmap_file();
