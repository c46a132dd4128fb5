// Reads a Direct3D 11 texture back through a staging copy.
#pragma once

#include <d3d11.h>

#include <cstdint>
#include <vector>

struct texture_pixels {
    int width = 0;
    int height = 0;
    int bytes_per_pixel = 0; // 1 (R8), 2 (R8G8) or 4 (B8G8R8A8, R8G8B8A8)
    bool bgra = false;
    std::vector<uint8_t> bytes; // rows packed, top row first

    bool empty() const { return bytes.empty(); }
    const uint8_t* at(int x, int y) const
    {
        return &bytes[(static_cast<size_t>(y) * width + x) * bytes_per_pixel];
    }
    // Channels of a four-byte pixel, whatever the byte order of its format.
    int red(int x, int y) const { return at(x, y)[bgra ? 2 : 0]; }
    int green(int x, int y) const { return at(x, y)[1]; }
    int blue(int x, int y) const { return at(x, y)[bgra ? 0 : 2]; }
    int alpha(int x, int y) const { return at(x, y)[3]; }
};

// Subresource 0 of `texture` as it stands after the work queued on `context`; empty when the
// copy cannot be made or the format is none of the above.
texture_pixels read_pixels(ID3D11DeviceContext* context, ID3D11Texture2D* texture);

// The render target bound on `context`, read back; empty when none is bound.
texture_pixels read_bound_target(ID3D11DeviceContext* context);
