#include "d3d11_fake_decoder.h"

#include "d3d11_readback.h"

fake_d3d11_decoder::fake_d3d11_decoder(int width, int height, int slices)
    : width_(width), height_(height)
{
    const D3D_FEATURE_LEVEL level = D3D_FEATURE_LEVEL_11_0;
    if (FAILED(D3D11CreateDevice(nullptr, D3D_DRIVER_TYPE_HARDWARE, nullptr,
                                 D3D11_CREATE_DEVICE_VIDEO_SUPPORT, &level, 1, D3D11_SDK_VERSION,
                                 &device_, nullptr, &context_)))
        return;
    com_targets::add(device_);
    standin_ = std::make_unique<nv12_standin>(device_);

    D3D11_TEXTURE2D_DESC desc = {};
    desc.Width = static_cast<UINT>(width);
    desc.Height = static_cast<UINT>(height_);
    desc.MipLevels = 1;
    desc.ArraySize = static_cast<UINT>(slices);
    desc.Format = DXGI_FORMAT_R8_UNORM;
    desc.SampleDesc.Count = 1;
    desc.Usage = D3D11_USAGE_DEFAULT;
    desc.BindFlags = D3D11_BIND_SHADER_RESOURCE;
    device_->CreateTexture2D(&desc, nullptr, &texture_);

    hwctx_.device = device_;
    hwctx_.device_context = context_;
    hwctx_.video_device = reinterpret_cast<ID3D11VideoDevice*>(&video_placeholders_[0]);
    hwctx_.video_context = reinterpret_cast<ID3D11VideoContext*>(&video_placeholders_[1]);
    hwctx_.lock = lock;
    hwctx_.unlock = unlock;
    hwctx_.lock_ctx = this;

    device_ctx_.type = ffmpeg_ids::hwdevice_d3d11va;
    device_ctx_.hwctx = &hwctx_;
    device_ref_.data = reinterpret_cast<uint8_t*>(&device_ctx_);
    device_ref_.size = static_cast<int>(sizeof(device_ctx_));

    frames_ctx_.device_ref = &device_ref_;
    frames_ctx_.device_ctx = &device_ctx_;
    frames_ctx_.format = ffmpeg_ids::pix_fmt_d3d11;
    frames_ctx_.sw_format = ffmpeg_ids::pix_fmt_nv12;
    frames_ctx_.width = width;
    frames_ctx_.height = height_;
    frames_ref_.data = reinterpret_cast<uint8_t*>(&frames_ctx_);
    frames_ref_.size = static_cast<int>(sizeof(frames_ctx_));

    codec_ctx_.width = width;
    codec_ctx_.height = height;
    codec_ctx_.pix_fmt = ffmpeg_ids::pix_fmt_d3d11;
    codec_ctx_.hw_device_ctx = &device_ref_;
    codec_ctx_.hw_frames_ctx = &frames_ref_;
}

fake_d3d11_decoder::~fake_d3d11_decoder()
{
    standin_.reset();
    com_targets::remove(device_);
    if (texture_)
        texture_->Release();
    if (context_)
        context_->Release();
    if (device_)
        device_->Release();
}

void fake_d3d11_decoder::fill_luma(int slice, uint8_t (*luma_at)(int x, int y))
{
    std::vector<uint8_t> picture(static_cast<size_t>(width_) * height_);
    for (int y = 0; y < height_; ++y)
        for (int x = 0; x < width_; ++x)
            picture[static_cast<size_t>(y) * width_ + x] = luma_at(x, y);
    context_->UpdateSubresource(texture_, static_cast<UINT>(slice), nullptr, picture.data(),
                                static_cast<UINT>(width_), 0);
}

void fake_d3d11_decoder::fill_chroma(uint8_t u, uint8_t v)
{
    ID3D11Texture2D* chroma = standin_->chroma();
    if (!chroma)
        return;
    D3D11_TEXTURE2D_DESC desc = {};
    chroma->GetDesc(&desc);
    std::vector<uint8_t> plane(static_cast<size_t>(desc.Width) * desc.Height * 2);
    for (size_t i = 0; i < plane.size(); i += 2) {
        plane[i] = u;
        plane[i + 1] = v;
    }
    context_->UpdateSubresource(chroma, 0, nullptr, plane.data(), desc.Width * 2, 0);
}

AVFrame fake_d3d11_decoder::frame_of(int slice)
{
    AVFrame frame = {};
    frame.format = ffmpeg_ids::pix_fmt_d3d11;
    frame.width = width_;
    frame.height = height_;
    frame.data[0] = reinterpret_cast<uint8_t*>(texture_);
    frame.data[1] = reinterpret_cast<uint8_t*>(static_cast<intptr_t>(slice));
    frame.opaque = &codec_ctx_;
    frame.hw_frames_ctx = &frames_ref_;
    return frame;
}

ULONG fake_d3d11_decoder::device_refcount() const
{
    device_->AddRef();
    return device_->Release();
}

ULONG fake_d3d11_decoder::context_refcount() const
{
    context_->AddRef();
    return context_->Release();
}

int fake_d3d11_decoder::standin_luma() const
{
    const bypass_faults own_calls;
    ID3D11Texture2D* luma = standin_->luma();
    if (!luma)
        return -1;
    const texture_pixels pixels = read_pixels(context_, luma);
    return pixels.empty() ? -1 : pixels.at(0, 0)[0];
}

void fake_d3d11_decoder::lock(void* lock_ctx)
{
    auto* decoder = static_cast<fake_d3d11_decoder*>(lock_ctx);
    ++decoder->locks;
    decoder->luma_at_lock.push_back(decoder->standin_luma());
}

void fake_d3d11_decoder::unlock(void* lock_ctx)
{
    auto* decoder = static_cast<fake_d3d11_decoder*>(lock_ctx);
    ++decoder->unlocks;
    decoder->luma_at_unlock.push_back(decoder->standin_luma());
}
