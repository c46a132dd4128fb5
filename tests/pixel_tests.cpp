// Flat colour patches drawn through the public interface on every backend, read back the way
// each backend allows, and compared with the colour reference per colour class and
// adjustment. Built twice: the DirectDraw program runs beside a d3d9.dll without Direct3D 9.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "color_reference.h"
#include "d3d11_fake_decoder.h"
#include "d3d11_readback.h"
#include "dc_capture.h"
#include "fake_dxva2_decoder.h"
#include "kx_vidrender.h"
#include "test_picture.h"
#include "test_window.h"

namespace {

struct yuv {
    int y, u, v;
};

// Black, white and grey, then colours that stay inside the RGB cube in all three standards,
// so that nothing clips before the adjustment.
const yuv patches[8] = {{16, 128, 128}, {235, 128, 128}, {126, 128, 128}, {100, 110, 190},
                        {150, 80, 70},  {60, 200, 120},  {170, 60, 150},  {120, 150, 90}};

// 4 x 2 patches of 80 x 120.
constexpr int picture_w = 320;
constexpr int picture_h = 240;

struct colour_space {
    int av_colorspace;
    int color_class;
};
const colour_space colour_spaces[] = {{6, 0}, {1, 1}, {10, 2}};

const adjust4 adjustments[] = {
    neutral_adjust,  {0, 50, 50, 50},   {100, 50, 50, 50}, {50, 20, 50, 50}, {50, 80, 50, 50},
    {50, 50, 0, 50}, {50, 50, 100, 50}, {50, 50, 50, 25},  {50, 50, 50, 90}, {30, 70, 20, 90}};

rgb8 neutral_rgb(const yuv& c, int color_class)
{
    const rgb8 exact = expected_from_yuv(c.y, c.u, c.v, color_class, neutral_adjust);
    return {std::round(exact.r), std::round(exact.g), std::round(exact.b)};
}

// The colour converted to 8-bit RGB first, then adjusted.
rgb8 adjusted_after_conversion(const yuv& c, int color_class, const adjust4& adjust)
{
    const rgb8 converted = neutral_rgb(c, color_class);
    return expected_from_rgb(converted.r, converted.g, converted.b, adjust);
}

// One backend reached through the public interface, and how its pictures are read back:
// by default from the device context the draw callback receives.
class backend_bench {
  public:
    virtual ~backend_bench() { release(); }
    virtual bool start() = 0;
    // Draws the patches; the colour at the centre of each, in patch order.
    virtual std::vector<rgb8> draw(int av_colorspace) = 0;
    virtual rgb8 expected(const yuv& c, int color_class, const adjust4& adjust) const
    {
        return expected_from_yuv(c.y, c.u, c.v, color_class, adjust);
    }
    virtual double tolerance() const { return 3; }
    kx_vidrender* renderer() const { return renderer_; }

  protected:
    bool init(kx_pixel_fmt format, AVCodecContext* codec_ctx, int video_w = picture_w,
              int video_h = picture_h)
    {
        renderer_ = kx_vidrender::create_vrender(format);
        const bool ready = renderer_->init_vrender(window_.handle(), video_w, video_h, codec_ctx);
        renderer_->set_draw_callback(capture_callback, 0, &capture_);
        return ready;
    }
    // Before the decoders of derived benches go.
    void release()
    {
        if (renderer_)
            kx_vidrender::destroy_vrender(renderer_);
        renderer_ = nullptr;
    }
    std::vector<rgb8> centres() const
    {
        std::vector<rgb8> seen;
        for (int i = 0; i < 8 && !capture_.last.empty(); ++i) {
            const int x = i % 4 * 80 + 40, y = i / 4 * 120 + 60;
            const captured_picture& shot = capture_.last;
            seen.push_back(
                {double(shot.red(x, y)), double(shot.green(x, y)), double(shot.blue(x, y))});
        }
        return seen;
    }
    test_window window_{picture_w, picture_h};
    kx_vidrender* renderer_ = nullptr;
    frame_capture capture_ = {picture_w, picture_h, 0, {}};
};

class software_bench : public backend_bench {
  public:
    software_bench() : picture_(picture_w, picture_h, 0, 0, 0)
    {
        for (int i = 0; i < 8; ++i)
            picture_.paint(i % 4 * 80, i / 4 * 120, i % 4 * 80 + 80, i / 4 * 120 + 120,
                           uint8_t(patches[i].y), uint8_t(patches[i].u), uint8_t(patches[i].v));
    }
    bool start() override { return init(kx_pix_fmt_yuv420p, nullptr); }
    std::vector<rgb8> draw(int av_colorspace) override
    {
        picture_.frame.colorspace = av_colorspace;
        renderer_->render_frame(&picture_.frame, picture_w, picture_h);
        return centres();
    }

  private:
    test_picture picture_;
};

// The copy into the display's RGB format knows BT.601 and BT.709 only, and the adjustment
// runs in 8-bit integers on its result.
class ddraw_bench : public software_bench {
  public:
    rgb8 expected(const yuv& c, int color_class, const adjust4& adjust) const override
    {
        return adjusted_after_conversion(c, color_class == 1 ? 1 : 0, adjust);
    }
    // libyuv's fixed-point BT.709 constants land up to 9 levels off the standard where the
    // chroma is strong.
    double tolerance() const override { return 10; }
};

uint32_t patch_xrgb(int x, int y)
{
    const rgb8 c = neutral_rgb(patches[y / 120 * 4 + x / 80], 0);
    return uint32_t(c.r) << 16 | uint32_t(c.g) << 8 | uint32_t(c.b);
}

// The decoded surface already holds RGB: the colour class has nothing to do.
class dxva2_bench : public backend_bench {
  public:
    ~dxva2_bench() override
    {
        release();
        if (surface_)
            surface_->Release();
    }
    bool start() override
    {
        surface_ =
            decoder_.ready() ? decoder_.make_surface(picture_w, picture_h, patch_xrgb) : nullptr;
        return surface_ && init(kx_pix_fmt_dxva2_vld, decoder_.codec_context());
    }
    std::vector<rgb8> draw(int av_colorspace) override
    {
        AVFrame frame = decoder_.frame_of(surface_);
        frame.colorspace = av_colorspace;
        renderer_->render_frame(&frame, picture_w, picture_h);
        return centres();
    }
    rgb8 expected(const yuv& c, int, const adjust4& adjust) const override
    {
        return adjusted_after_conversion(c, 0, adjust);
    }

  private:
    fake_dxva2_decoder decoder_;
    IDirect3DSurface9* surface_ = nullptr;
};

uint8_t current_luma = 0;
uint8_t flat_luma(int, int)
{
    return current_luma;
}

// The decoder's chroma is flat over the picture, so each patch is a frame of its own; the
// picture, stretched over the window, is read from the render target the backend leaves
// bound on the decoder's context.
class d3d11_bench : public backend_bench {
  public:
    ~d3d11_bench() override { release(); }
    bool start() override
    {
        return decoder_.ready() && init(kx_pix_fmt_d3d11, decoder_.codec_context(), 64, 32);
    }
    std::vector<rgb8> draw(int av_colorspace) override
    {
        std::vector<rgb8> seen;
        for (const yuv& c : patches) {
            current_luma = uint8_t(c.y);
            decoder_.fill_luma(0, flat_luma);
            decoder_.fill_chroma(uint8_t(c.u), uint8_t(c.v));
            AVFrame frame = decoder_.frame_of(0);
            frame.colorspace = av_colorspace;
            renderer_->render_frame(&frame, 64, 32);
            const texture_pixels shown = read_bound_target(decoder_.context());
            if (shown.empty())
                return {};
            // Near opposite corners in turn: the quad covers the whole target.
            const int x = seen.size() % 2 ? shown.width - 3 : 2;
            const int y = seen.size() % 2 ? shown.height - 3 : 2;
            seen.push_back(
                {double(shown.red(x, y)), double(shown.green(x, y)), double(shown.blue(x, y))});
        }
        return seen;
    }

  private:
    fake_d3d11_decoder decoder_{64, 32, 1};
};

std::unique_ptr<backend_bench> make_bench(const std::string& name)
{
    if (name == "ddraw")
        return std::make_unique<ddraw_bench>();
    if (name == "d3d9_dxva2")
        return std::make_unique<dxva2_bench>();
    if (name == "d3d11")
        return std::make_unique<d3d11_bench>();
    return std::make_unique<software_bench>();
}

class pixels : public ::testing::TestWithParam<const char*> {};

} // namespace

TEST_P(pixels, patches_follow_the_colour_class_and_the_adjustments)
{
    const std::unique_ptr<backend_bench> bench = make_bench(GetParam());
    ASSERT_TRUE(bench->start());
    for (const colour_space& space : colour_spaces)
        for (const adjust4& adjust : adjustments) {
            ASSERT_TRUE(bench->renderer()->set_image_adjust(adjust.data()));
            const std::vector<rgb8> seen = bench->draw(space.av_colorspace);
            ASSERT_EQ(seen.size(), 8u);
            for (int i = 0; i < 8; ++i) {
                const rgb8 want = bench->expected(patches[i], space.color_class, adjust);
                const std::string what = "patch " + std::to_string(i) + " class " +
                                         std::to_string(space.color_class) + " adjust " +
                                         testing::PrintToString(adjust);
                EXPECT_NEAR(seen[i].r, want.r, bench->tolerance()) << what;
                EXPECT_NEAR(seen[i].g, want.g, bench->tolerance()) << what;
                EXPECT_NEAR(seen[i].b, want.b, bench->tolerance()) << what;
            }
        }
}

#ifdef DDRAW_ONLY
INSTANTIATE_TEST_SUITE_P(backends, pixels, testing::Values("ddraw"),
                         [](const auto& info) { return std::string(info.param); });
#else
INSTANTIATE_TEST_SUITE_P(backends, pixels, testing::Values("d3d9_software", "d3d9_dxva2", "d3d11"),
                         [](const auto& info) { return std::string(info.param); });
#endif
