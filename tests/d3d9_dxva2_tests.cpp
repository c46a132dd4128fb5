// DXVA2 frames on the decoder's own Direct3D 9 device: the picture copied from the decoded
// surface and adjusted, the record walk's refusals, the decoder's device left as it was, and
// device loss injected through a wrapper device.
#include <gtest/gtest.h>

#include <array>
#include <memory>

#include "color_reference.h"
#include "dc_capture.h"
#include "fake_dxva2_decoder.h"
#include "kx_vidrender.h"
#include "log_capture.h"
#include "test_window.h"

namespace {

using adjust4 = std::array<int, 4>;

// Left half orange, right half teal; the two top and two bottom lines magenta.
uint32_t halves(int x, int y)
{
    (void)y;
    return x < 320 ? 0x00E08020u : 0x00208090u;
}

uint32_t banded_1088(int x, int y)
{
    (void)x;
    return y < 2 || y >= 1086 ? 0x00FF00FFu : 0x0040C040u;
}

class d3d9_dxva2 : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(decoder_.ready()); }

    void TearDown() override
    {
        if (renderer_)
            kx_vidrender::destroy_vrender(renderer_);
        if (surface_)
            surface_->Release();
    }

    void start(int window_w, int window_h, int video_w, int video_h)
    {
        window_ = std::make_unique<test_window>(window_w, window_h);
        renderer_ = kx_vidrender::create_vrender(kx_pix_fmt_dxva2_vld);
        ASSERT_TRUE(
            renderer_->init_vrender(window_->handle(), video_w, video_h, decoder_.codec_context()));
        capture_.width = window_w;
        capture_.height = window_h;
        renderer_->set_draw_callback(capture_callback, 0, &capture_);
    }

    void draw(int video_w, int video_h)
    {
        AVFrame frame = decoder_.frame_of(surface_);
        renderer_->render_frame(&frame, video_w, video_h);
    }

    void expect_colour(int x, int y, uint32_t source, const adjust4& adjust)
    {
        const rgb8 want =
            expected_from_rgb(source >> 16 & 0xFF, source >> 8 & 0xFF, source & 0xFF, adjust);
        EXPECT_NEAR(capture_.last.red(x, y), want.r, 2.0) << x << "," << y;
        EXPECT_NEAR(capture_.last.green(x, y), want.g, 2.0) << x << "," << y;
        EXPECT_NEAR(capture_.last.blue(x, y), want.b, 2.0) << x << "," << y;
    }

    fake_dxva2_decoder decoder_;
    IDirect3DSurface9* surface_ = nullptr;
    std::unique_ptr<test_window> window_;
    kx_vidrender* renderer_ = nullptr;
    frame_capture capture_;
};

} // namespace

TEST_F(d3d9_dxva2, the_decoded_picture_is_adjusted_and_the_colour_class_ignored)
{
    surface_ = decoder_.make_surface(640, 360, halves);
    start(640, 360, 640, 360);
    const adjust4 grid[] = {{50, 50, 50, 50}, {0, 50, 50, 50}, {100, 50, 50, 50}, {50, 20, 50, 50},
                            {50, 80, 50, 50}, {50, 50, 0, 50}, {50, 50, 100, 50}, {50, 50, 50, 10},
                            {50, 50, 50, 75}, {30, 70, 20, 90}};
    for (const adjust4& adjust : grid) {
        ASSERT_TRUE(renderer_->set_image_adjust(adjust.data()));
        for (int colorspace : {1, 9}) {
            AVFrame frame = decoder_.frame_of(surface_);
            frame.colorspace = colorspace;
            renderer_->render_frame(&frame, 640, 360);
            ASSERT_FALSE(capture_.last.empty());
            expect_colour(160, 180, 0x00E08020u, adjust);
            expect_colour(480, 180, 0x00208090u, adjust);
        }
    }
}

TEST_F(d3d9_dxva2, a_region_crops_the_surface)
{
    surface_ = decoder_.make_surface(640, 360, halves);
    start(320, 180, 640, 360);
    display_region right_half = {1, 0, 5000, 10000, 0, 10000, 0, 0};
    renderer_->set_display_region(&right_half);
    draw(640, 360);
    const adjust4 neutral = {50, 50, 50, 50};
    expect_colour(5, 90, 0x00208090u, neutral);
    expect_colour(315, 90, 0x00208090u, neutral);
}

TEST_F(d3d9_dxva2, tall_pictures_lose_two_lines_at_top_and_bottom)
{
    surface_ = decoder_.make_surface(1920, 1088, banded_1088);
    start(960, 542, 1920, 1088);
    draw(1920, 1088);
    const adjust4 neutral = {50, 50, 50, 50};
    for (int x : {10, 480, 950}) {
        expect_colour(x, 0, 0x0040C040u, neutral);
        expect_colour(x, 541, 0x0040C040u, neutral);
    }
}

TEST_F(d3d9_dxva2, the_decoders_device_keeps_its_references)
{
    surface_ = decoder_.make_surface(640, 360, halves);
    const ULONG before = decoder_.device_refcount();
    start(640, 360, 640, 360);
    for (int i = 0; i < 3; ++i)
        draw(640, 360);
    window_->resize(600, 340); // a rebuild in between
    capture_.width = 600;
    capture_.height = 340;
    draw(640, 360);
    kx_vidrender::destroy_vrender(renderer_);
    renderer_ = nullptr;
    EXPECT_EQ(decoder_.device_refcount(), before);
}

TEST_F(d3d9_dxva2, every_missing_record_is_refused_with_its_line)
{
    test_window window(320, 240);
    log_capture logs;
    auto refused = [&](const std::string& line) {
        kx_vidrender* renderer = kx_vidrender::create_vrender(kx_pix_fmt_dxva2_vld);
        EXPECT_FALSE(renderer->init_vrender(window.handle(), 320, 240, decoder_.codec_context()));
        kx_vidrender::destroy_vrender(renderer);
        EXPECT_EQ(logs.count(1, line), 1) << line;
    };
    dxva2_device_priv* priv = decoder_.private_record();
    priv->d3d9device = nullptr;
    char expected[160];
    std::snprintf(expected, sizeof(expected),
                  "hw_priv_->d3d9device(%p) is nullptr or hw_priv_->d3d9(%p) is nullptr!\n",
                  static_cast<void*>(nullptr), static_cast<void*>(decoder_.d3d9()));
    refused(expected);
    priv->d3d9device = decoder_.device();
    decoder_.device_context()->user_opaque = nullptr;
    refused("device_ctx->user_opaque is nullptr!\n");
    decoder_.device_context()->hwctx = nullptr;
    refused("device_ctx->hwctx is nullptr!\n");
    decoder_.device_ref()->data = nullptr;
    refused("hw_device_ctx->data is nullptr!\n");
    decoder_.codec_context()->hw_device_ctx = nullptr;
    refused("hw_device_ctx is nullptr!\n");
}
