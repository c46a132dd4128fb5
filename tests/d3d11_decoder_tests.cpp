// Direct3D 11 frames on the decoder's own device: the copy of the decoded slice under the
// decoder's lock, the picture converted and adjusted over the whole window, the refusals of
// broken records, and the decoder's device and context left as they were.
//
// Wine refuses the NV12 video texture; the decoder's device stands an R8 texture (which the
// copy fills) and an R8G8 texture (which the test fills) in for it, so that the backend's own
// shaders draw a real picture.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <memory>

#include "color_reference.h"
#include "d3d11_fake_decoder.h"
#include "d3d11_readback.h"
#include "d3d11_render/d3d11_manager.h"
#include "kx_vidrender.h"
#include "log_capture.h"
#include "test_window.h"

namespace {

using adjust4 = std::array<int, 4>;

constexpr int video_w = 64;
constexpr int video_h = 32;

uint8_t dark(int, int)
{
    return 40;
}

// Left half 100, right half 180.
uint8_t halves(int x, int)
{
    return x < video_w / 2 ? 100 : 180;
}

std::string pointers_line(const AVD3D11VADeviceContext& hwctx)
{
    char text[256];
    std::snprintf(text, sizeof(text),
                  "hwctx->device:%p,hwctx->device_context:%p,hwctx->video_device:%p,"
                  "hwctx->video_context:%p\n",
                  static_cast<void*>(hwctx.device), static_cast<void*>(hwctx.device_context),
                  static_cast<void*>(hwctx.video_device), static_cast<void*>(hwctx.video_context));
    return text;
}

class d3d11_decoder : public ::testing::Test {
  protected:
    void SetUp() override
    {
        ASSERT_TRUE(decoder_.ready());
        decoder_.fill_luma(0, dark);
        decoder_.fill_luma(1, halves);
    }

    void TearDown() override
    {
        if (renderer_)
            kx_vidrender::destroy_vrender(renderer_);
    }

    void start(int window_w, int window_h)
    {
        window_ = std::make_unique<test_window>(window_w, window_h);
        renderer_ = kx_vidrender::create_vrender(kx_pix_fmt_d3d11);
        ASSERT_TRUE(
            renderer_->init_vrender(window_->handle(), video_w, video_h, decoder_.codec_context()));
    }

    // The planes a format-174 frame of `slice` reaches the backend with.
    std::array<uint8_t*, 8> planes_of(int slice)
    {
        AVFrame frame = decoder_.frame_of(slice);
        std::array<uint8_t*, 8> planes = {};
        for (int i = 0; i < 8; ++i)
            planes[i] = frame.data[i];
        planes[2] = reinterpret_cast<uint8_t*>(static_cast<intptr_t>(174));
        planes[3] = reinterpret_cast<uint8_t*>(frame.hw_frames_ctx);
        return planes;
    }

    void expect_colour(const texture_pixels& picture, int x, int y, int luma, int u, int v,
                       int color_class, const adjust4& adjust)
    {
        const rgb8 want = expected_from_yuv(luma, u, v, color_class, adjust);
        const std::string where = "at " + std::to_string(x) + "," + std::to_string(y) + " class " +
                                  std::to_string(color_class) + " adjust " +
                                  testing::PrintToString(adjust);
        EXPECT_NEAR(picture.red(x, y), want.r, 2.0) << where;
        EXPECT_NEAR(picture.green(x, y), want.g, 2.0) << where;
        EXPECT_NEAR(picture.blue(x, y), want.b, 2.0) << where;
    }

    fake_d3d11_decoder decoder_{video_w, video_h, 3};
    std::unique_ptr<test_window> window_;
    kx_vidrender* renderer_ = nullptr;
};

} // namespace

TEST_F(d3d11_decoder, broken_frames_are_refused_with_their_lines_and_never_locked)
{
    test_window window(128, 64);
    d3d11_manager manager;
    // The video texture takes the decoder's picture size, not the one passed in.
    ASSERT_TRUE(manager.init_render(window.handle(), 640, 480, 128, 64, decoder_.codec_context()));
    ASSERT_EQ(decoder_.standin().requests.size(), 1u);
    const D3D11_TEXTURE2D_DESC& video = decoder_.standin().requests[0];
    EXPECT_EQ(video.Width, static_cast<UINT>(video_w));
    EXPECT_EQ(video.Height, static_cast<UINT>(video_h));

    log_capture logs;
    auto refused = [&](std::array<uint8_t*, 8> planes, const std::string& line) {
        logs.clear();
        EXPECT_FALSE(manager.draw_image(planes.data(), nullptr, nullptr, nullptr)) << line;
        if (line.empty())
            EXPECT_TRUE(logs.texts().empty());
        else
            EXPECT_EQ(logs.texts(), std::vector<std::string>{line});
    };
    std::array<uint8_t*, 8> planes = planes_of(1);
    planes[0] = nullptr;
    refused(planes, "");
    planes = planes_of(1);
    planes[2] = reinterpret_cast<uint8_t*>(static_cast<intptr_t>(53));
    refused(planes, "decoded frame pixel format error! format:53!\n");
    planes = planes_of(1);
    planes[3] = nullptr;
    refused(planes, "frame_ctx is nullptr!\n");

    AVHWFramesContext* frames_ctx = decoder_.frames_context();
    decoder_.frames_ref()->data = nullptr;
    refused(planes_of(1), "frame_ctx is nullptr!\n");
    decoder_.frames_ref()->data = reinterpret_cast<uint8_t*>(frames_ctx);
    frames_ctx->device_ctx = nullptr;
    refused(planes_of(1), "device_ctx->hwctx is nullptr!\n");
    frames_ctx->device_ctx = decoder_.device_context();
    decoder_.device_context()->hwctx = nullptr;
    refused(planes_of(1), "hwctx is nullptr\n");
    decoder_.device_context()->hwctx = decoder_.hwctx();
    AVD3D11VADeviceContext* hwctx = decoder_.hwctx();
    ID3D11VideoContext* video_context = hwctx->video_context;
    hwctx->video_context = nullptr;
    refused(planes_of(1), pointers_line(*hwctx));
    hwctx->video_context = video_context;
    EXPECT_EQ(decoder_.locks, 0);

    logs.clear();
    EXPECT_TRUE(manager.draw_image(planes_of(1).data(), nullptr, nullptr, nullptr));
    EXPECT_EQ(decoder_.locks, 1);
    EXPECT_EQ(decoder_.unlocks, 1);
    EXPECT_TRUE(logs.texts().empty());
}
