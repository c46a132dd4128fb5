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
