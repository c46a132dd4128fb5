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
#include "d3d11_fault_swap_chain.h"
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
    swap_chain_catcher catcher_;
    std::unique_ptr<test_window> window_;
    kx_vidrender* renderer_ = nullptr;
};

} // namespace

TEST_F(d3d11_decoder, the_slice_is_copied_under_the_decoders_lock_and_fills_the_window)
{
    start(192, 144); // 4:3, the picture 2:1
    decoder_.fill_chroma(128, 128);
    AVFrame frame = decoder_.frame_of(1);
    renderer_->render_frame(&frame, video_w, video_h);

    // The front marks the frame for the backend.
    EXPECT_EQ(reinterpret_cast<intptr_t>(frame.data[2]), 174);
    EXPECT_EQ(frame.data[3], reinterpret_cast<uint8_t*>(decoder_.frames_ref()));

    // Taken once, around the copy: the slice's first luma byte arrives in between.
    ASSERT_EQ(decoder_.locks, 1);
    ASSERT_EQ(decoder_.unlocks, 1);
    EXPECT_NE(decoder_.luma_at_lock[0], 100);
    EXPECT_EQ(decoder_.luma_at_unlock[0], 100);

    // Stretched over the whole window, whatever the picture's aspect.
    const fault_dxgi_swap_chain* swap_chain = catcher_.last();
    ASSERT_NE(swap_chain, nullptr);
    const texture_pixels& shown = swap_chain->last_presented;
    ASSERT_EQ(shown.width, 192);
    ASSERT_EQ(shown.height, 144);
    const adjust4 neutral = {50, 50, 50, 50};
    for (int y : {1, 72, 142}) {
        expect_colour(shown, 1, y, 100, 128, 128, 0, neutral);
        expect_colour(shown, 80, y, 100, 128, 128, 0, neutral);
        expect_colour(shown, 112, y, 180, 128, 128, 0, neutral);
        expect_colour(shown, 190, y, 180, 128, 128, 0, neutral);
    }

    // Another slice of the same array.
    AVFrame next = decoder_.frame_of(0);
    renderer_->render_frame(&next, video_w, video_h);
    EXPECT_EQ(decoder_.luma_at_unlock.back(), 40);
    expect_colour(swap_chain->last_presented, 96, 72, 40, 128, 128, 0, neutral);
}

TEST_F(d3d11_decoder, colours_follow_the_colour_class_and_the_adjustments)
{
    start(128, 64);
    const adjust4 grid[] = {{50, 50, 50, 50},  {0, 50, 50, 50},   {100, 50, 50, 50},
                            {50, 20, 50, 50},  {50, 100, 50, 50}, {50, 50, 0, 50},
                            {50, 50, 100, 50}, {50, 50, 50, 0},   {50, 50, 50, 100},
                            {50, 50, 50, 10},  {30, 70, 20, 90}};
    const std::array<int, 2> chromas[] = {{128, 128}, {90, 240}, {54, 34}, {240, 110}};
    // AVColorSpace values and the classes they stand for; 2 is "unspecified".
    const std::array<int, 2> colorspaces[] = {{2, 0}, {1, 1}, {9, 2}, {10, 2}};
    for (const auto& chroma : chromas) {
        decoder_.fill_chroma(static_cast<uint8_t>(chroma[0]), static_cast<uint8_t>(chroma[1]));
        for (const adjust4& adjust : grid) {
            ASSERT_TRUE(renderer_->set_image_adjust(adjust.data()));
            for (const auto& colorspace : colorspaces) {
                AVFrame frame = decoder_.frame_of(1);
                frame.colorspace = colorspace[0];
                renderer_->render_frame(&frame, video_w, video_h);
                const texture_pixels& shown = catcher_.last()->last_presented;
                ASSERT_FALSE(shown.empty());
                expect_colour(shown, 32, 32, 100, chroma[0], chroma[1], colorspace[1], adjust);
                expect_colour(shown, 96, 32, 180, chroma[0], chroma[1], colorspace[1], adjust);
            }
        }
    }
}

TEST_F(d3d11_decoder, broken_frames_are_refused_with_their_lines_and_never_locked)
{
    test_window window(128, 64);
    d3d11_manager manager;
    // The video texture takes the decoder's picture size, not the one passed in.
    ASSERT_TRUE(manager.init_render(window.handle(), 640, 480, 128, 64, decoder_.codec_context()));
    ASSERT_EQ(decoder_.device()->nv12_requests.size(), 1u);
    const D3D11_TEXTURE2D_DESC& video = decoder_.device()->nv12_requests[0];
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

TEST_F(d3d11_decoder, broken_device_records_refuse_initialisation)
{
    test_window window(128, 64);
    log_capture logs;
    auto init = [&](const std::string& line) {
        logs.clear();
        d3d11_manager manager;
        EXPECT_FALSE(
            manager.init_render(window.handle(), 64, 32, 128, 64, decoder_.codec_context()));
        if (line.empty())
            EXPECT_TRUE(logs.texts().empty());
        else
            EXPECT_EQ(logs.texts(), std::vector<std::string>{line});
    };
    AVD3D11VADeviceContext* hwctx = decoder_.hwctx();
    hwctx->device_context = nullptr;
    init("");
    hwctx->device_context = decoder_.context();
    hwctx->device = nullptr;
    init("");
    hwctx->device = decoder_.device();
    decoder_.device_context()->hwctx = nullptr;
    init("device_ctx->hwctx is nullptr!\n");
    decoder_.device_ref()->data = nullptr;
    init("hw_device_ctx->data is nullptr!\n");
    EXPECT_TRUE(catcher_.caught().empty());
}

TEST_F(d3d11_decoder, failing_helpers_are_logged_and_only_the_samplers_stop_initialisation)
{
    struct injected {
        const char* method;
        int failing_call; // which call of the method fails, from 1
        const char* line;
        bool init_succeeds;
        bool draws;
    };
    const injected cases[] = {
        {"CreateSamplerState", 1, "ID3D11Device::CreateSamplerState(POINT) failed, 8007000e ",
         false, false},
        {"CreateSamplerState", 2, "ID3D11Device::CreateSamplerState(LINEAR) failed, 8007000e ",
         false, false},
        {"CreateInputLayout", 1, "ID3D11Device::CreateInputLayout() failed, 8007000e.", true,
         false},
        {"CreateBuffer", 1, "ID3D11Device::CreateBuffer(VERTEX_BUFFER) failed, 8007000e \n", true,
         false},
        {"CreateBuffer", 2, "ID3D11Device::CreateBuffer() failed, 8007000e \n", true, true},
        {"CreateRasterizerState", 1, "init_rasterizer_state failed, 8007000e \n", true, true},
        {"CreatePixelShader", 1, "init_pixel_shader failed, 8007000e \n", true, true},
        {"CreateBuffer", 3, "ID3D11Device::CreateBuffer() failed, 8007000e \n", true, true},
        {"CreateShaderResourceView", 2,
         "ID3D11Device::CreateRenderTargetView(R8G8) failed, 8007000e \n", true, false},
    };
    test_window window(128, 64);
    for (const injected& fault : cases) {
        int calls = 0;
        decoder_.device()->fail_hook = [&](const std::string& method) {
            return method == fault.method && ++calls == fault.failing_call ? E_OUTOFMEMORY : S_OK;
        };
        log_capture logs;
        d3d11_manager manager;
        EXPECT_EQ(manager.init_render(window.handle(), 64, 32, 128, 64, decoder_.codec_context()),
                  fault.init_succeeds)
            << fault.line;
        decoder_.device()->fail_hook = nullptr;
        EXPECT_EQ(logs.texts(), std::vector<std::string>{fault.line});
        if (fault.init_succeeds) {
            EXPECT_TRUE(manager.begin_render(true, 0xFF000000));
            EXPECT_EQ(manager.draw_image(planes_of(1).data(), nullptr, nullptr, nullptr),
                      fault.draws)
                << fault.line;
        }
    }
}

TEST_F(d3d11_decoder, the_decoders_device_and_context_keep_their_references)
{
    const ULONG device_refs = decoder_.device_refcount();
    const ULONG real_device_refs = decoder_.real_device_refcount();
    const ULONG context_refs = decoder_.context_refcount();
    start(128, 64);
    decoder_.fill_chroma(128, 128);
    for (int slice : {0, 1, 2, 1}) {
        AVFrame frame = decoder_.frame_of(slice);
        renderer_->render_frame(&frame, video_w, video_h);
    }
    window_->resize(120, 60); // rebuilds the backend
    AVFrame frame = decoder_.frame_of(0);
    renderer_->render_frame(&frame, video_w, video_h);
    EXPECT_EQ(catcher_.caught().size(), 2u);
    EXPECT_EQ(decoder_.locks, 5);

    kx_vidrender::destroy_vrender(renderer_);
    renderer_ = nullptr;
    for (fault_dxgi_swap_chain* swap_chain : catcher_.caught())
        EXPECT_EQ(swap_chain->refcount(), 1u); // the catcher's own
    catcher_.release_caught();
    decoder_.device()->release_standins();
    EXPECT_EQ(decoder_.device_refcount(), device_refs);
    EXPECT_EQ(decoder_.real_device_refcount(), real_device_refs);
    EXPECT_EQ(decoder_.context_refcount(), context_refs);
}
