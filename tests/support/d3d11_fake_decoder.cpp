#include "d3d11_fake_decoder.h"

#include "d3d11_readback.h"

using texture_patch = method_patch<&ID3D11Device::CreateTexture2D>;
using view_patch = method_patch<&ID3D11Device::CreateShaderResourceView>;

fake_d3d11_decoder::fake_d3d11_decoder(int width, int height, int slices)
    : width_(width), height_(height)
{
    const D3D_FEATURE_LEVEL level = D3D_FEATURE_LEVEL_11_0;
    if (FAILED(D3D11CreateDevice(nullptr, D3D_DRIVER_TYPE_HARDWARE, nullptr,
                                 D3D11_CREATE_DEVICE_VIDEO_SUPPORT, &level, 1, D3D11_SDK_VERSION,
                                 &device_, nullptr, &context_)))
        return;
    com_targets::add(device_);
    textures_ = std::make_unique<texture_patch>(
        device_, [this](ID3D11Device* self, const D3D11_TEXTURE2D_DESC* desc,
                        const D3D11_SUBRESOURCE_DATA* data, ID3D11Texture2D** out) {
            if (desc && desc->Format == DXGI_FORMAT_NV12 && !(desc->BindFlags & D3D11_BIND_DECODER))
                return make_standins(self, *desc, out);
            return texture_patch::next(self, desc, data, out);
        });
    views_ = std::make_unique<view_patch>(device_, [this](
                                                       ID3D11Device* self, ID3D11Resource* resource,
                                                       const D3D11_SHADER_RESOURCE_VIEW_DESC* desc,
                                                       ID3D11ShaderResourceView** out) {
        if (resource && resource == standin_luma_ && desc && desc->Format == DXGI_FORMAT_R8G8_UNORM)
            resource = standin_chroma_;
        return view_patch::next(self, resource, desc, out);
    });

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
    views_.reset();
    textures_.reset();
    release_standins();
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
    ID3D11Texture2D* chroma = standin_chroma_;
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

int fake_d3d11_decoder::standin_luma() const
{
    const bypass_faults own_calls;
    if (!standin_luma_)
        return -1;
    const texture_pixels pixels = read_pixels(context_, standin_luma_);
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

void fake_d3d11_decoder::release_standins()
{
    for (ID3D11Texture2D** texture : {&standin_luma_, &standin_chroma_})
        if (*texture) {
            (*texture)->Release();
            *texture = nullptr;
        }
}

HRESULT fake_d3d11_decoder::make_standins(ID3D11Device* device, const D3D11_TEXTURE2D_DESC& desc,
                                          ID3D11Texture2D** out)
{
    release_standins();
    D3D11_TEXTURE2D_DESC luma = desc;
    luma.Format = DXGI_FORMAT_R8_UNORM;
    D3D11_TEXTURE2D_DESC chroma = luma;
    chroma.Format = DXGI_FORMAT_R8G8_UNORM;
    chroma.Width = desc.Width / 2;
    chroma.Height = desc.Height / 2;
    chroma.Usage = D3D11_USAGE_DEFAULT;
    chroma.CPUAccessFlags = 0;
    HRESULT result = texture_patch::original(device, &luma, nullptr, &standin_luma_);
    if (SUCCEEDED(result))
        result = texture_patch::original(device, &chroma, nullptr, &standin_chroma_);
    if (FAILED(result)) {
        release_standins();
        *out = nullptr;
        return result;
    }
    standin_luma_->AddRef();
    *out = standin_luma_;
    return S_OK;
}
