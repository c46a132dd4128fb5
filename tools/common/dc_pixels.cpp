#include "dc_pixels.h"

captured_picture capture_dc(HDC dc, int width, int height)
{
    captured_picture picture;
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height; // top row first
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
            picture.width = width;
            picture.height = height;
            picture.pixels.assign(first, first + static_cast<size_t>(width) * height);
            for (uint32_t& pixel : picture.pixels)
                pixel &= 0x00FFFFFF;
        }
        SelectObject(memory_dc, previous);
    }
    if (bitmap)
        DeleteObject(bitmap);
    if (memory_dc)
        DeleteDC(memory_dc);
    return picture;
}
