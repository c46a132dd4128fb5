#include "test_picture.h"

test_picture::test_picture(int w, int h, uint8_t y, uint8_t u, uint8_t v, int padding, int format)
    : width(w), height(h), frame()
{
    const int chroma_width = (w + 1) / 2;
    const int chroma_height = (h + 1) / 2;
    y_plane.assign(static_cast<size_t>((w + padding) * h), y);
    u_plane.assign(static_cast<size_t>((chroma_width + padding) * chroma_height), u);
    v_plane.assign(static_cast<size_t>((chroma_width + padding) * chroma_height), v);
    frame.format = format;
    frame.data[0] = y_plane.data();
    frame.data[1] = u_plane.data();
    frame.data[2] = v_plane.data();
    frame.linesize[0] = w + padding;
    frame.linesize[1] = chroma_width + padding;
    frame.linesize[2] = chroma_width + padding;
}

void test_picture::paint(int x0, int y0, int x1, int y1, uint8_t y, uint8_t u, uint8_t v)
{
    for (int row = y0; row < y1; ++row)
        for (int col = x0; col < x1; ++col) {
            y_plane[static_cast<size_t>(row * frame.linesize[0] + col)] = y;
            if (row % 2 == 0 && col % 2 == 0) {
                const size_t chroma = static_cast<size_t>((row / 2) * frame.linesize[1] + col / 2);
                u_plane[chroma] = u;
                v_plane[chroma] = v;
            }
        }
}
