// Planar YUV 4:2:0 pictures and the AVFrame records around them, for the tests.
#pragma once

#include <cstdint>
#include <vector>

#include "ffmpeg_records.h"

struct test_picture {
    // A flat picture of width x height with the given Y, U and V values; each plane's
    // stride is its width plus `padding`.
    test_picture(int width, int height, uint8_t y, uint8_t u, uint8_t v, int padding = 0,
                 int format = 0);

    // Paints the rectangle [x0, x1) x [y0, y1) (even corners keep chroma exact).
    void paint(int x0, int y0, int x1, int y1, uint8_t y, uint8_t u, uint8_t v);

    int width;
    int height;
    std::vector<uint8_t> y_plane;
    std::vector<uint8_t> u_plane;
    std::vector<uint8_t> v_plane;
    AVFrame frame;
};
