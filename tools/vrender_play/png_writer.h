// Writes 32-bit pixels (0x00RRGGBB, top row first) to a PNG file with the Windows Imaging
// Component.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

bool write_png(const std::string& path, int width, int height, const std::vector<uint32_t>& pixels,
               std::string& error);
