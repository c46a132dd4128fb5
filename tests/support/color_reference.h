// The expected colour of a pixel, computed in double precision straight from the colour
// standards' coefficients and the adjustment formulas, for comparison with what the GPU drew.
#pragma once

#include <array>

struct rgb8 {
    double r, g, b; // 0..255
};

// Limited-range Y, U, V (0..255) of colour class 0 (BT.601), 1 (BT.709) or 2 (BT.2020),
// adjusted by contrast, brightness, saturation and hue (each 0..100, 50 neutral).
rgb8 expected_from_yuv(int y, int u, int v, int color_class, const std::array<int, 4>& adjust);

// An RGB pixel (0..255) adjusted the same way, with no conversion.
rgb8 expected_from_rgb(int r, int g, int b, const std::array<int, 4>& adjust);
