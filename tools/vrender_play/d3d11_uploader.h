// Stands in for an FFmpeg D3D11VA decoder: a Direct3D 11 device of the player's own, an NV12
// texture array whose slices receive the pictures (through an NV12 staging texture), and the
// FFmpeg records that lead the library to them: the codec context's hw_device_ctx, the frames
// context of each frame's hw_frames_ctx, and the AVD3D11VADeviceContext with its device lock.
#pragma once

#include <windows.h>

#include <d3d11.h>

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "ffmpeg_records.h"

class d3d11_uploader {
  public:
    // What open() found. Anything but `ready` means this machine cannot give the library
    // Direct3D 11 decoder frames; `error` then says why, with the failing result.
    enum class outcome { ready, no_device, no_nv12_texture, no_video_device };

    d3d11_uploader() = default;
    ~d3d11_uploader();
    d3d11_uploader(const d3d11_uploader&) = delete;
    d3d11_uploader& operator=(const d3d11_uploader&) = delete;

    outcome open(int width, int height, std::string& error);
    AVCodecContext* codec_context() { return &codec_ctx_; }
    // The size of the decoder's pictures: the picture's, raised to even numbers.
    int frame_width() const { return texture_width_; }
    int frame_height() const { return texture_height_; }
    // Uploads a planar 4:2:0 picture of the size given to open() (chroma strides
    // (width + 1) / 2) into the next slice and returns a format-174 frame of it; false when
    // the staging texture cannot be written.
    bool upload(const std::vector<uint8_t>& picture, int colorspace, AVFrame& frame);

  private:
    bool make_device(std::string& error);
    bool probe_sampled_nv12(std::string& error);
    bool make_textures(std::string& error);
    bool find_video_interfaces(std::string& error);
    void fill_records();
    static void lock(void* lock_ctx);
    static void unlock(void* lock_ctx);

    static constexpr int slice_count = 4;
    int width_ = 0;
    int height_ = 0;
    int texture_width_ = 0; // NV12 needs even sizes
    int texture_height_ = 0;
    int next_slice_ = 0;
    ID3D11Device* device_ = nullptr;
    ID3D11DeviceContext* context_ = nullptr;
    ID3D11VideoDevice* video_device_ = nullptr;
    ID3D11VideoContext* video_context_ = nullptr;
    ID3D11Texture2D* slices_ = nullptr;
    ID3D11Texture2D* staging_ = nullptr;
    std::mutex device_lock_; // shared with the library through the records
    AVD3D11VADeviceContext hwctx_ = {};
    AVD3D11VAFramesContext frames_hwctx_ = {};
    AVHWDeviceContext device_ctx_ = {};
    AVBufferRef device_ref_ = {};
    AVHWFramesContext frames_ctx_ = {};
    AVBufferRef frames_ref_ = {};
    AVCodecContext codec_ctx_ = {};
};
