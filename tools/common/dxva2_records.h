// The FFmpeg records through which a DXVA2 decoder's Direct3D 9 device reaches the library:
// codec context -> hw_device_ctx -> AVHWDeviceContext -> the decoder's private record.
#pragma once

#include <d3d9.h>

#include "ffmpeg_records.h"

struct dxva2_records {
    // Points the records at `device` (created from `d3d9`); the records hold no references.
    void attach(IDirect3D9* d3d9, IDirect3DDevice9* device, int width, int height)
    {
        priv.d3d9 = d3d9;
        priv.d3d9device = device;
        device_ctx.hwctx = &hwctx;
        device_ctx.user_opaque = &priv;
        device_ref.data = reinterpret_cast<uint8_t*>(&device_ctx);
        codec_ctx.hw_device_ctx = &device_ref;
        codec_ctx.width = width;
        codec_ctx.height = height;
    }

    // A format-53 frame of `surface`, with the codec context in `opaque`.
    AVFrame frame_of(IDirect3DSurface9* surface, int colorspace = 2)
    {
        AVFrame frame = {};
        frame.format = 53;
        frame.colorspace = colorspace;
        frame.data[3] = reinterpret_cast<uint8_t*>(surface);
        frame.opaque = &codec_ctx;
        return frame;
    }

    int hwctx = 0; // only tested for presence
    dxva2_device_priv priv = {};
    AVHWDeviceContext device_ctx = {};
    AVBufferRef device_ref = {};
    AVCodecContext codec_ctx = {};
};
