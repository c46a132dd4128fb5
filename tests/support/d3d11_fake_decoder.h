// Plays the part of an FFmpeg D3D11VA decoder: a Direct3D 11 device of its own (in com_targets,
// with NV12 textures stood in for, below), a texture array whose slices hold decoded
// pictures, and the FFmpeg records that lead to the device: the codec context's hw_device_ctx, the
// frames context that a frame's hw_frames_ctx refers to, and the AVD3D11VADeviceContext with a
// device lock that counts its calls.
//
// Wine refuses NV12 textures: the device answers a request for a (non-decoder) NV12 texture
// with an R8 texture of the same size, which the backend's copy and its R8 view reach, and keeps
// an R8G8 texture of half the size, which an R8G8 view of that texture is given instead. The
// slices are R8 pictures (the luma of the decoded frame); fill_chroma fills the R8G8 stand-in.
#pragma once

#include <d3d11.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "com_patch.h"
#include "ffmpeg_records.h"

class fake_d3d11_decoder {
  public:
    fake_d3d11_decoder(int width, int height, int slices);
    ~fake_d3d11_decoder();
    fake_d3d11_decoder(const fake_d3d11_decoder&) = delete;
    fake_d3d11_decoder& operator=(const fake_d3d11_decoder&) = delete;

    bool ready() const { return texture_ != nullptr; }
    ID3D11Device* device() const { return device_; }
    // Lets go of the stand-in textures of the latest request (each holds the device).
    void release_standins();
    ID3D11DeviceContext* context() const { return context_; }
    ID3D11Texture2D* texture() const { return texture_; }

    // Slice `slice` of the array, filled by `luma_at(x, y)`.
    void fill_luma(int slice, uint8_t (*luma_at)(int x, int y));
    // The stand-in chroma texture of the renderer's video texture, filled flat.
    void fill_chroma(uint8_t u, uint8_t v);

    AVCodecContext* codec_context() { return &codec_ctx_; }
    AVD3D11VADeviceContext* hwctx() { return &hwctx_; }

    // A format-174 frame of `slice`, as the decoder leaves it, with the codec context in
    // `opaque` and the frames context in hw_frames_ctx.
    AVFrame frame_of(int slice);

    // The device lock: how often it was taken and given back, and the first luma byte of the
    // stand-in video texture at each of those moments.
    int locks = 0;
    int unlocks = 0;
    std::vector<int> luma_at_lock;
    std::vector<int> luma_at_unlock;

  private:
    static void lock(void* lock_ctx);
    static void unlock(void* lock_ctx);
    int standin_luma() const;
    HRESULT make_standins(ID3D11Device* device, const D3D11_TEXTURE2D_DESC& desc,
                          ID3D11Texture2D** out);

    int width_;
    int height_;
    ID3D11Device* device_ = nullptr;
    ID3D11Texture2D* standin_luma_ = nullptr;
    ID3D11Texture2D* standin_chroma_ = nullptr;
    std::unique_ptr<method_patch<&ID3D11Device::CreateTexture2D>> textures_;
    std::unique_ptr<method_patch<&ID3D11Device::CreateShaderResourceView>> views_;
    ID3D11DeviceContext* context_ = nullptr;
    ID3D11Texture2D* texture_ = nullptr;
    // Never called by the renderer; they only have to be there.
    int video_placeholders_[2] = {};
    AVD3D11VADeviceContext hwctx_ = {};
    AVHWDeviceContext device_ctx_ = {};
    AVBufferRef device_ref_ = {};
    AVHWFramesContext frames_ctx_ = {};
    AVBufferRef frames_ref_ = {};
    AVCodecContext codec_ctx_ = {};
};
