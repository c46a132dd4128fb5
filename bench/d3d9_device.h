// A decoder-style Direct3D 9 device: a plain (not 9Ex) device on a hidden window of its own,
// as FFmpeg's DXVA2 decoder makes one, with the FFmpeg records that lead the Direct3D 9
// backend to it. Plain devices offer the managed textures that D3DX fonts need; a 9Ex device,
// made on request, does not.
#pragma once

#include <windows.h>

#include <d3d9.h>

#include "ffmpeg_records.h"

class decoder_device {
  public:
    explicit decoder_device(bool ex = false);
    ~decoder_device();
    decoder_device(const decoder_device&) = delete;
    decoder_device& operator=(const decoder_device&) = delete;

    bool ready() const { return device_ != nullptr && query_ != nullptr; }
    IDirect3DDevice9* device() const { return device_; }
    // The decoder's codec context, for init_render.
    AVCodecContext* codec_context() { return &codec_ctx_; }

    // Returns once the device has carried out every command sent so far (Wine's
    // Direct3D runs them on a thread of its own).
    void finish();

  private:
    HWND window_ = nullptr;
    IDirect3D9* d3d9_ = nullptr;
    IDirect3DDevice9* device_ = nullptr;
    IDirect3DQuery9* query_ = nullptr;
    int hwctx_placeholder_ = 0;
    dxva2_device_priv priv_ = {};
    AVHWDeviceContext device_ctx_ = {};
    AVBufferRef device_ref_ = {};
    AVCodecContext codec_ctx_ = {};
};
