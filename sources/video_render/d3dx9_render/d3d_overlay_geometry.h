// Where the Direct3D 9 overlay renderer puts its primitives, in window pixels before the
// zoom: figure points, ellipse outlines, the inner-ellipse layouts, the direction mark's
// frame and the white bitmap behind highlighted texts.
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

// The frame of a direction mark: its x axis runs across the line `direction`, its origin is
// the line's midpoint `centre`.
D3DXMATRIX direction_mark_frame(D3DXVECTOR2 centre, D3DXVECTOR2 direction);

// A 240 x 22 white 24-bit Windows bitmap file: the texture behind highlighted texts.
std::vector<uint8_t> white_bitmap_file();
