// Plays the part of an FFmpeg DXVA2 decoder: a Direct3D 9 device of its own, a decoded
// surface holding a known picture, and the FFmpeg records that lead from a codec context to
// the device (hw_device_ctx -> AVHWDeviceContext -> the five-pointer private record).
#pragma once

#include <windows.h>

#include <d3d9.h>

#include <cstdint>

#include "dxva2_records.h"
#include "ffmpeg_records.h"

class fake_dxva2_decoder {
  public:
    // Creates the decoder's device on a hidden window of its own.
    fake_dxva2_decoder();
    ~fake_dxva2_decoder();
    fake_dxva2_decoder(const fake_dxva2_decoder&) = delete;
    fake_dxva2_decoder& operator=(const fake_dxva2_decoder&) = delete;

    bool ready() const { return device_ != nullptr; }
    IDirect3D9* d3d9() const { return d3d9_; }
    IDirect3DDevice9* device() const { return device_; }

    // A decoded picture of width x height, X8R8G8B8, filled by `colour_at(x, y)`.
    IDirect3DSurface9* make_surface(int width, int height, uint32_t (*colour_at)(int x, int y));

    AVCodecContext* codec_context() { return &records_.codec_ctx; }

    // A format-53 frame of `surface`, with the codec context in `opaque`.
    AVFrame frame_of(IDirect3DSurface9* surface) { return records_.frame_of(surface); }

  private:
    HWND window_ = nullptr;
    IDirect3D9* d3d9_ = nullptr;
    IDirect3DDevice9* device_ = nullptr;
    dxva2_records records_;
};
