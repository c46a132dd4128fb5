// Stands in for a DXVA2 decoder: a Direct3D 9 device of the player's own, pictures uploaded
// into its surfaces, and the FFmpeg records that lead the library to that device.
#pragma once

#include <windows.h>

#include <d3d9.h>

#include <cstdint>
#include <string>
#include <vector>

#include "dxva2_records.h"
#include "ffmpeg_records.h"

class dxva2_uploader {
  public:
    dxva2_uploader() = default;
    ~dxva2_uploader();
    dxva2_uploader(const dxva2_uploader&) = delete;
    dxva2_uploader& operator=(const dxva2_uploader&) = delete;

    bool open(int width, int height, std::string& error);
    AVCodecContext* codec_context() { return &records_.codec_ctx; }
    // Uploads a planar 4:2:0 picture (chroma strides (width + 1) / 2) into the next surface
    // and returns a format-53 frame of it; false when the surface cannot be written.
    bool upload(const std::vector<uint8_t>& picture, int colorspace, AVFrame& frame);

  private:
    int width_ = 0;
    int height_ = 0;
    HWND window_ = nullptr;
    IDirect3D9* d3d9_ = nullptr;
    IDirect3DDevice9* device_ = nullptr;
    std::vector<IDirect3DSurface9*> surfaces_;
    size_t next_ = 0;
    dxva2_records records_;
};
