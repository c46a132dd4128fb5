#include "dc_capture_for_player.h"

std::vector<uint32_t> capture_pixels(HDC dc, int width, int height)
{
    std::vector<uint32_t> pixels;
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HDC memory_dc = CreateCompatibleDC(dc);
    HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (memory_dc && bitmap && bits) {
        HGDIOBJ previous = SelectObject(memory_dc, bitmap);
        if (BitBlt(memory_dc, 0, 0, width, height, dc, 0, 0, SRCCOPY)) {
            GdiFlush();
            const auto* first = static_cast<const uint32_t*>(bits);
            pixels.assign(first, first + static_cast<size_t>(width) * height);
        }
        SelectObject(memory_dc, previous);
    }
    if (bitmap)
        DeleteObject(bitmap);
    if (memory_dc)
        DeleteDC(memory_dc);
    return pixels;
}
