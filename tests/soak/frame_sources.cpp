#include "frame_sources.h"

#include <d3d11.h>
#include <d3d9.h>

#include "d3d11_fake_decoder.h"
#include "fake_dxva2_decoder.h"
#include "test_picture.h"

namespace {

constexpr int surface_count = 4;

template <typename T> unsigned long refcount_of(T* object)
{
    object->AddRef();
    return object->Release();
}

// A grey picture with a bar that moves a few pixels every frame.
class software_source final : public frame_source {
  public:
    software_source() : picture_(width, height, 96, 128, 128)
    {
        picture_.frame.colorspace = ffmpeg_ids::colorspace_bt709;
    }

    std::string problem() const override { return {}; }
    kx_pixel_fmt format() const override { return kx_pix_fmt_yuv420p; }
    AVCodecContext* codec_context() override { return nullptr; }
    AVFrame* frame(int index) override
    {
        picture_.paint(bar_x_, 0, bar_x_ + bar_width, height, 96, 128, 128);
        bar_x_ = (index * 8) % (width - bar_width);
        picture_.paint(bar_x_, 0, bar_x_ + bar_width, height, 200, 90, 160);
        return &picture_.frame;
    }

  private:
    static constexpr int bar_width = 32;
    test_picture picture_;
    int bar_x_ = 0;
};

uint32_t blue_ramp(int x, int)
{
    return 0x00202000u | static_cast<uint32_t>(x & 0xFF);
}

// A DXVA2 decoder with a few decoded surfaces, handed out in turn.
class dxva2_source final : public frame_source {
  public:
    dxva2_source()
    {
        if (!decoder_.ready())
            return;
        for (int i = 0; i < surface_count; ++i)
            if (IDirect3DSurface9* surface = decoder_.make_surface(width, height, blue_ramp)) {
                surfaces_.push_back(surface);
                frames_.push_back(decoder_.frame_of(surface));
            }
    }
    ~dxva2_source() override
    {
        for (IDirect3DSurface9* surface : surfaces_)
            surface->Release();
    }

    std::string problem() const override
    {
        if (!decoder_.ready())
            return "the decoder's Direct3D 9 device could not be made";
        return surfaces_.size() == surface_count ? "" : "the decoded surfaces could not be made";
    }
    kx_pixel_fmt format() const override { return kx_pix_fmt_dxva2_vld; }
    AVCodecContext* codec_context() override { return decoder_.codec_context(); }
    AVFrame* frame(int index) override { return &frames_[index % frames_.size()]; }
    std::vector<borrowed_count> borrowed_counts() const override
    {
        std::vector<borrowed_count> counts = {{"device", decoder_.device_refcount()},
                                              {"d3d9", refcount_of(decoder_.d3d9())}};
        for (size_t i = 0; i < surfaces_.size(); ++i)
            counts.push_back({"surface" + std::to_string(i), refcount_of(surfaces_[i])});
        return counts;
    }

  private:
    fake_dxva2_decoder decoder_;
    std::vector<IDirect3DSurface9*> surfaces_;
    std::vector<AVFrame> frames_;
};

uint8_t luma_ramp(int x, int y)
{
    return static_cast<uint8_t>(x + y);
}

// A D3D11VA decoder whose texture array holds a few decoded pictures. Its device stands R8 and
// R8G8 textures in for the renderer's NV12 texture, which Wine refuses; everything else the
// renderer makes is a real object of the real device.
class d3d11_source final : public frame_source {
  public:
    d3d11_source() : decoder_(width, height, surface_count)
    {
        if (!decoder_.ready())
            return;
        for (int slice = 0; slice < surface_count; ++slice) {
            decoder_.fill_luma(slice, luma_ramp);
            frames_.push_back(decoder_.frame_of(slice));
        }
        // The decoder's own lock bookkeeping reads the video texture back every time; a
        // plain count is all a soak needs.
        decoder_.hwctx()->lock = &d3d11_source::lock;
        decoder_.hwctx()->unlock = &d3d11_source::unlock;
        decoder_.hwctx()->lock_ctx = this;
    }

    std::string problem() const override
    {
        return decoder_.ready() ? "" : "the decoder's Direct3D 11 device could not be made";
    }
    kx_pixel_fmt format() const override { return kx_pix_fmt_d3d11; }
    AVCodecContext* codec_context() override { return decoder_.codec_context(); }
    // The front writes into each frame it is given, so every slice keeps its own record.
    AVFrame* frame(int index) override { return &frames_[index % frames_.size()]; }
    long frames_copied() const override { return locks_; }
    std::vector<borrowed_count> borrowed_counts() const override
    {
        return {{"device", decoder_.device_refcount()},
                {"real-device", decoder_.real_device_refcount()},
                {"context", decoder_.context_refcount()},
                {"texture", refcount_of(decoder_.texture())}};
    }
    bool lock_balanced() const override { return locks_ == unlocks_; }
    void let_go() override { decoder_.release_standins(); }

  private:
    static void lock(void* context) { ++static_cast<d3d11_source*>(context)->locks_; }
    static void unlock(void* context) { ++static_cast<d3d11_source*>(context)->unlocks_; }

    fake_d3d11_decoder decoder_;
    std::vector<AVFrame> frames_;
    long locks_ = 0;
    long unlocks_ = 0;
};

} // namespace

std::unique_ptr<frame_source> make_frame_source(const std::string& backend)
{
    if (backend == "d3d9" || backend == "ddraw")
        return std::make_unique<software_source>();
    if (backend == "dxva2")
        return std::make_unique<dxva2_source>();
    if (backend == "d3d11")
        return std::make_unique<d3d11_source>();
    return nullptr;
}
