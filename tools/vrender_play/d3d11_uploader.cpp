#include "d3d11_uploader.h"

#include <libyuv/convert_from.h>

#include <cstdio>

#include "video_texture.h"

namespace {

template <typename T> void release(T*& object)
{
    if (object) {
        object->Release();
        object = nullptr;
    }
}

std::string with_result(const char* what, HRESULT result)
{
    char text[160];
    std::snprintf(text, sizeof(text), "%s returned 0x%08lX", what,
                  static_cast<unsigned long>(result));
    return text;
}

uint8_t* bytes_of(void* record)
{
    return static_cast<uint8_t*>(record);
}

} // namespace

d3d11_uploader::~d3d11_uploader()
{
    release(staging_);
    release(slices_);
    release(video_context_);
    release(video_device_);
    release(context_);
    release(device_);
}

d3d11_uploader::outcome d3d11_uploader::open(int width, int height, std::string& error)
{
    width_ = width;
    height_ = height;
    texture_width_ = (width + 1) & ~1;
    texture_height_ = (height + 1) & ~1;
    if (!make_device(error))
        return outcome::no_device;
    if (!probe_sampled_nv12(error) || !make_textures(error))
        return outcome::no_nv12_texture;
    if (!find_video_interfaces(error))
        return outcome::no_video_device;
    fill_records();
    return outcome::ready;
}

bool d3d11_uploader::make_device(std::string& error)
{
    const D3D_FEATURE_LEVEL levels[] = {D3D_FEATURE_LEVEL_11_0, D3D_FEATURE_LEVEL_10_1,
                                        D3D_FEATURE_LEVEL_10_0, D3D_FEATURE_LEVEL_9_1};
    const HRESULT result = D3D11CreateDevice(
        nullptr, D3D_DRIVER_TYPE_HARDWARE, nullptr, D3D11_CREATE_DEVICE_VIDEO_SUPPORT, levels,
        sizeof(levels) / sizeof(levels[0]), D3D11_SDK_VERSION, &device_, nullptr, &context_);
    if (FAILED(result)) {
        error = "this platform has no Direct3D 11 device with video support (" +
                with_result("D3D11CreateDevice", result) + ")";
        return false;
    }
    return true;
}

// The library copies each picture into an NV12 texture of its own and draws from it through
// shader views of its planes: a platform that cannot make such a texture cannot show
// Direct3D 11 frames at all, whatever the decoder's textures are.
bool d3d11_uploader::probe_sampled_nv12(std::string& error)
{
    const D3D11_TEXTURE2D_DESC desc = video_texture_description(static_cast<UINT>(texture_width_),
                                                                static_cast<UINT>(texture_height_));
    ID3D11Texture2D* probe = nullptr;
    const HRESULT result = device_->CreateTexture2D(&desc, nullptr, &probe);
    release(probe);
    if (FAILED(result)) {
        error = "this platform makes no NV12 textures that shaders read (" +
                with_result("ID3D11Device::CreateTexture2D", result) +
                "), and the library's Direct3D 11 backend draws from one";
        return false;
    }
    return true;
}

// Decoders keep their pictures in one NV12 texture array; the pictures reach it through a
// staging texture of the same format.
bool d3d11_uploader::make_textures(std::string& error)
{
    D3D11_TEXTURE2D_DESC desc = {};
    desc.Width = static_cast<UINT>(texture_width_);
    desc.Height = static_cast<UINT>(texture_height_);
    desc.MipLevels = 1;
    desc.ArraySize = slice_count;
    desc.Format = DXGI_FORMAT_NV12;
    desc.SampleDesc.Count = 1;
    desc.Usage = D3D11_USAGE_DEFAULT;
    desc.BindFlags = D3D11_BIND_DECODER;
    HRESULT result = device_->CreateTexture2D(&desc, nullptr, &slices_);
    if (SUCCEEDED(result)) {
        desc.ArraySize = 1;
        desc.Usage = D3D11_USAGE_STAGING;
        desc.BindFlags = 0;
        desc.CPUAccessFlags = D3D11_CPU_ACCESS_WRITE;
        result = device_->CreateTexture2D(&desc, nullptr, &staging_);
    }
    if (FAILED(result)) {
        error = "this platform makes no NV12 decoder textures (" +
                with_result("ID3D11Device::CreateTexture2D", result) + ")";
        return false;
    }
    frames_hwctx_.texture = slices_;
    frames_hwctx_.BindFlags = D3D11_BIND_DECODER;
    return true;
}

bool d3d11_uploader::find_video_interfaces(std::string& error)
{
    HRESULT result = device_->QueryInterface(__uuidof(ID3D11VideoDevice),
                                             reinterpret_cast<void**>(&video_device_));
    if (SUCCEEDED(result))
        result = context_->QueryInterface(__uuidof(ID3D11VideoContext),
                                          reinterpret_cast<void**>(&video_context_));
    if (FAILED(result)) {
        error = "this platform's Direct3D 11 device has no video interfaces (" +
                with_result("QueryInterface", result) + ")";
        return false;
    }
    return true;
}

void d3d11_uploader::fill_records()
{
    hwctx_.device = device_;
    hwctx_.device_context = context_;
    hwctx_.video_device = video_device_;
    hwctx_.video_context = video_context_;
    hwctx_.lock = lock;
    hwctx_.unlock = unlock;
    hwctx_.lock_ctx = this;

    device_ctx_.type = ffmpeg_ids::hwdevice_d3d11va;
    device_ctx_.hwctx = &hwctx_;
    device_ref_.data = bytes_of(&device_ctx_);
    device_ref_.size = static_cast<int>(sizeof(device_ctx_));

    frames_ctx_.device_ref = &device_ref_;
    frames_ctx_.device_ctx = &device_ctx_;
    frames_ctx_.hwctx = &frames_hwctx_;
    frames_ctx_.initial_pool_size = slice_count;
    frames_ctx_.format = ffmpeg_ids::pix_fmt_d3d11;
    frames_ctx_.sw_format = ffmpeg_ids::pix_fmt_nv12;
    frames_ctx_.width = texture_width_;
    frames_ctx_.height = texture_height_;
    frames_ref_.data = bytes_of(&frames_ctx_);
    frames_ref_.size = static_cast<int>(sizeof(frames_ctx_));

    codec_ctx_.width = texture_width_;
    codec_ctx_.height = texture_height_;
    codec_ctx_.pix_fmt = ffmpeg_ids::pix_fmt_d3d11;
    codec_ctx_.sw_pix_fmt = ffmpeg_ids::pix_fmt_nv12;
    codec_ctx_.hw_device_ctx = &device_ref_;
    codec_ctx_.hw_frames_ctx = &frames_ref_;
}

bool d3d11_uploader::upload(const std::vector<uint8_t>& picture, int colorspace, AVFrame& frame)
{
    const int slice = next_slice_;
    next_slice_ = (next_slice_ + 1) % slice_count;
    std::lock_guard<std::mutex> hold(device_lock_);
    D3D11_MAPPED_SUBRESOURCE mapped = {};
    if (FAILED(context_->Map(staging_, 0, D3D11_MAP_WRITE, 0, &mapped)))
        return false;
    // A mapped NV12 texture holds its interleaved UV rows right below the Y rows.
    auto* luma = static_cast<uint8_t*>(mapped.pData);
    uint8_t* chroma = luma + static_cast<size_t>(mapped.RowPitch) * texture_height_;
    const int cw = (width_ + 1) / 2;
    const uint8_t* y = picture.data();
    const uint8_t* u = y + static_cast<size_t>(width_) * height_;
    const uint8_t* v = u + static_cast<size_t>(cw) * ((height_ + 1) / 2);
    const int pitch = static_cast<int>(mapped.RowPitch);
    libyuv::I420ToNV12(y, width_, u, cw, v, cw, luma, pitch, chroma, pitch, width_, height_);
    context_->Unmap(staging_, 0);
    context_->CopySubresourceRegion(slices_, static_cast<UINT>(slice), 0, 0, 0, staging_, 0,
                                    nullptr);

    frame = AVFrame();
    frame.format = ffmpeg_ids::pix_fmt_d3d11;
    frame.colorspace = colorspace;
    frame.width = texture_width_;
    frame.height = texture_height_;
    frame.data[0] = reinterpret_cast<uint8_t*>(slices_);
    frame.data[1] = reinterpret_cast<uint8_t*>(static_cast<intptr_t>(slice));
    frame.opaque = &codec_ctx_;
    frame.hw_frames_ctx = &frames_ref_;
    return true;
}

void d3d11_uploader::lock(void* lock_ctx)
{
    static_cast<d3d11_uploader*>(lock_ctx)->device_lock_.lock();
}

void d3d11_uploader::unlock(void* lock_ctx)
{
    static_cast<d3d11_uploader*>(lock_ctx)->device_lock_.unlock();
}
