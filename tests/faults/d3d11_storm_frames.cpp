#include "d3d11_storm_frames.h"

#include <cmath>

#include "color_reference.h"

namespace {

constexpr int slices = 3;

int luma_of(int count)
{
    return 60 + count % slices * 60;
}

uint8_t slice_0(int, int)
{
    return 60;
}

uint8_t slice_1(int, int)
{
    return 120;
}

uint8_t slice_2(int, int)
{
    return 180;
}

} // namespace

storm_frames::storm_frames(fake_d3d11_decoder& decoder, bool own_device)
    : decoder_(decoder), own_device_(own_device)
{
    decoder_.fill_luma(0, slice_0);
    decoder_.fill_luma(1, slice_1);
    decoder_.fill_luma(2, slice_2);
}

storm_frames::~storm_frames()
{
    release_made_devices();
}

void storm_frames::collect_made_devices()
{
    for (const made_device& device : d3d11_interception::take_made_devices()) {
        made_.push_back(device);
        if (texture_)
            texture_->Release();
        texture_ = nullptr;
    }
}

AVFrame storm_frames::next(bool empty)
{
    ++count_;
    if (!own_device_) {
        luma_ = luma_of(count_);
        AVFrame frame = decoder_.frame_of(count_ % slices);
        if (empty)
            frame.data[0] = nullptr;
        return frame;
    }
    AVFrame frame = {};
    frame.format = ffmpeg_ids::pix_fmt_d3d11;
    frame.width = storm_video_w;
    frame.height = storm_video_h;
    collect_made_devices();
    if (empty || made_.empty())
        return frame;
    ID3D11Device* device = made_.back().real;
    if (!texture_) {
        D3D11_TEXTURE2D_DESC desc = {};
        desc.Width = storm_video_w;
        desc.Height = storm_video_h;
        desc.MipLevels = 1;
        desc.ArraySize = 1;
        desc.Format = DXGI_FORMAT_R8_UNORM;
        desc.SampleDesc.Count = 1;
        desc.Usage = D3D11_USAGE_DEFAULT;
        desc.BindFlags = D3D11_BIND_SHADER_RESOURCE;
        device->CreateTexture2D(&desc, nullptr, &texture_);
    }
    if (!texture_)
        return frame;
    luma_ = luma_of(count_);
    std::vector<uint8_t> picture(storm_video_w * storm_video_h, static_cast<uint8_t>(luma_));
    made_.back().context->UpdateSubresource(texture_, 0, nullptr, picture.data(), storm_video_w, 0);
    frame.data[0] = reinterpret_cast<uint8_t*>(texture_);
    return frame;
}

void storm_frames::fill_chroma()
{
    if (!own_device_) {
        decoder_.fill_chroma(128, 128);
        return;
    }
    collect_made_devices();
    if (made_.empty())
        return;
    ID3D11Texture2D* chroma = made_.back().handed->chroma_standin();
    if (!chroma)
        return;
    D3D11_TEXTURE2D_DESC desc = {};
    chroma->GetDesc(&desc);
    const std::vector<uint8_t> plane(static_cast<size_t>(desc.Width) * desc.Height * 2, 128);
    made_.back().context->UpdateSubresource(chroma, 0, nullptr, plane.data(), desc.Width * 2, 0);
}

bool storm_frames::shows(const swap_chain_catcher& catcher, int luma)
{
    const fault_dxgi_swap_chain* swap_chain = catcher.last();
    if (!swap_chain || swap_chain->last_presented.empty())
        return false;
    const texture_pixels& picture = swap_chain->last_presented;
    const rgb8 want =
        luma < 0 ? rgb8{0, 0, 0} : expected_from_yuv(luma, 128, 128, 0, {50, 50, 50, 50});
    for (const int x : {picture.width / 4, picture.width * 3 / 4}) {
        const int y = picture.height / 2;
        if (std::fabs(picture.red(x, y) - want.r) > 3 ||
            std::fabs(picture.green(x, y) - want.g) > 3 ||
            std::fabs(picture.blue(x, y) - want.b) > 3)
            return false;
    }
    return true;
}

bool storm_frames::release_made_devices()
{
    collect_made_devices();
    if (texture_)
        texture_->Release();
    texture_ = nullptr;
    bool all_let_go = true;
    for (const made_device& device : made_) {
        all_let_go = all_let_go && device.handed->refcount() == 1;
        device.handed->Release();
        all_let_go = all_let_go && reference_count(device.real) == 1;
        device.real->Release();
    }
    made_.clear();
    return all_let_go;
}
