// Reads the pixels of a device context: the picture a draw callback receives.
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

struct captured_picture {
    int width = 0;
    int height = 0;
    std::vector<uint32_t> pixels; // 0x00RRGGBB, top row first

    bool empty() const { return pixels.empty(); }
    uint32_t at(int x, int y) const { return pixels[static_cast<size_t>(y * width + x)]; }
    int red(int x, int y) const { return static_cast<int>(at(x, y) >> 16 & 0xFF); }
    int green(int x, int y) const { return static_cast<int>(at(x, y) >> 8 & 0xFF); }
    int blue(int x, int y) const { return static_cast<int>(at(x, y) & 0xFF); }
};

captured_picture capture_dc(HDC dc, int width, int height);
