// Plays the part of an FFmpeg D3D11VA decoder: a Direct3D 11 device of its own (in com_targets,
// with an nv12_standin on it while the decoder lives), a texture array whose slices hold decoded
// pictures, and the FFmpeg records that lead to the device: the codec context's hw_device_ctx, the
// frames context that a frame's hw_frames_ctx refers to, and the AVD3D11VADeviceContext with a
// device lock that counts its calls.
//
// The slices are R8 pictures (the luma of the decoded frame): the copy lands in the stand-in's
// R8 texture, and the chroma comes from the stand-in's R8G8 texture, filled by fill_chroma.
#pragma once

#include <d3d11.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "d3d11_standin_device.h"
#include "ffmpeg_records.h"

class fake_d3d11_decoder {
  public:
    fake_d3d11_decoder(int width, int height, int slices);
    ~fake_d3d11_decoder();
    fake_d3d11_decoder(const fake_d3d11_decoder&) = delete;
    fake_d3d11_decoder& operator=(const fake_d3d11_decoder&) = delete;

    bool ready() const { return texture_ != nullptr; }
    ID3D11Device* device() const { return device_; }
    nv12_standin& standin() { return *standin_; }
    // Lets go of the stand-in textures (each holds a reference on the device).
    void release_standins() { standin_->release(); }
    ID3D11DeviceContext* context() const { return context_; }
    ID3D11Texture2D* texture() const { return texture_; }

    // Slice `slice` of the array, filled by `luma_at(x, y)`.
    void fill_luma(int slice, uint8_t (*luma_at)(int x, int y));
    // The stand-in chroma texture of the renderer's video texture, filled flat.
    void fill_chroma(uint8_t u, uint8_t v);

    AVCodecContext* codec_context() { return &codec_ctx_; }
    AVBufferRef* device_ref() { return &device_ref_; }
    AVHWDeviceContext* device_context() { return &device_ctx_; }
    AVD3D11VADeviceContext* hwctx() { return &hwctx_; }
    AVBufferRef* frames_ref() { return &frames_ref_; }
    AVHWFramesContext* frames_context() { return &frames_ctx_; }

    // A format-174 frame of `slice`, as the decoder leaves it, with the codec context in
    // `opaque` and the frames context in hw_frames_ctx.
    AVFrame frame_of(int slice);

    // The device lock: how often it was taken and given back, and the first luma byte of the
    // stand-in video texture at each of those moments.
    int locks = 0;
    int unlocks = 0;
    std::vector<int> luma_at_lock;
    std::vector<int> luma_at_unlock;

    // Reference counts as they stand.
    ULONG device_refcount() const;
    ULONG context_refcount() const;

  private:
    static void lock(void* lock_ctx);
    static void unlock(void* lock_ctx);
    int standin_luma() const;

    int width_;
    int height_;
    ID3D11Device* device_ = nullptr;
    std::unique_ptr<nv12_standin> standin_;
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
