// The expected colour of a pixel, computed in double precision from the colour standards'
// luma weights and the adjustment formulas, for comparison with what a backend drew.
#pragma once
#include <array>

struct rgb8 {
    double r, g, b; // 0..255
};

using adjust4 = std::array<int, 4>; // contrast, brightness, saturation, hue; 50 neutral
constexpr adjust4 neutral_adjust = {50, 50, 50, 50};

// Limited-range 8-bit Y, U, V of colour class 0 (BT.601), 1 (BT.709) or 2 (BT.2020),
// converted and then adjusted.
rgb8 expected_from_yuv(int y, int u, int v, int color_class, const adjust4& adjust);
// An RGB pixel (0..255) adjusted the same way, with no conversion.
rgb8 expected_from_rgb(double r, double g, double b, const adjust4& adjust);
