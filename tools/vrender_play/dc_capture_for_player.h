// Reads the pixels of a device context as 0x00RRGGBB, top row first.
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

std::vector<uint32_t> capture_pixels(HDC dc, int width, int height);
