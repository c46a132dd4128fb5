// The Direct3D 9 manager and its strategies below the front: argument checks, the state
// before initialisation, the shared-device mismatch, and the plane order and flips of the
// software strategy drawn on a real device.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

#include "d3dx9_render/d3d9_manager.h"
#include "d3dx9_render/display_yuv420.h"
#include "dc_capture.h"
#include "fake_dxva2_decoder.h"
#include "log_capture.h"
#include "test_window.h"

namespace {

constexpr char manager_source[] = "..\\..\\..\\sources\\video_render\\d3dx9_render\\d3d9_manager";

std::string format_pointers(const char* format, const void* a, const void* b)
{
    char text[200];
    std::snprintf(text, sizeof(text), format, a, b);
    return text;
}

} // namespace

TEST(d3d9_manager, refuses_a_missing_window_or_an_empty_picture)
{
    log_capture logs;
    test_window window(64, 64);
    d3d9_manager manager;
    EXPECT_FALSE(manager.init_render(nullptr, 320, 240, 64, 64, nullptr));
    EXPECT_FALSE(manager.init_render(window.handle(), 0, 240, 64, 64, nullptr));
    EXPECT_FALSE(manager.init_render(window.handle(), 320, 0, 64, 64, nullptr));
    char expected[200];
    std::snprintf(expected, sizeof(expected),
                  "inparam error!hwnd:%p, width:%d, height:%d, codec_ctx:%p\n",
                  static_cast<void*>(window.handle()), 0, 240, static_cast<void*>(nullptr));
    EXPECT_EQ(logs.count(1, expected), 1);
    ASSERT_EQ(logs.lines().size(), 3u);
    EXPECT_EQ(logs.lines()[0].source, manager_source);
}

TEST(d3d9_manager, does_nothing_before_it_has_a_strategy)
{
    d3d9_manager manager;
    EXPECT_EQ(manager.render_type(), render_kind_d3d9);
    EXPECT_EQ(manager.check_device(), device_lost); // no device at all
    const int values[4] = {1, 2, 3, 4};
    EXPECT_FALSE(manager.set_image_adjust(values));
    EXPECT_FALSE(manager.update_image(nullptr, nullptr, nullptr));
    EXPECT_FALSE(manager.draw_image(nullptr, nullptr, nullptr, nullptr));
    EXPECT_FALSE(manager.begin_render(true, 0xFF000000));
    manager.set_color_space(2);
    std::list<overlay_group> empty;
    EXPECT_TRUE(manager.draw_overlays(&empty, 0, 0, nullptr));
}

TEST(d3d9_manager, an_own_device_is_initialised_once)
{
    log_capture logs;
    test_window window(160, 120);
    d3d9_manager manager;
    ASSERT_TRUE(manager.init_render(window.handle(), 160, 120, 160, 120, nullptr));
    EXPECT_EQ(manager.check_device(), device_ready);
    EXPECT_TRUE(manager.init_render(window.handle(), 320, 240, 160, 120, nullptr));
    EXPECT_EQ(logs.count(3, "d3d9 vrender initialized!\n"), 1);
    char expected[200];
    std::snprintf(expected, sizeof(expected),
                  "init video render with d3d9 software! hwnd:%p, vwidth:%d, vheight:%d, "
                  "twidth:%d, theight:%d\n",
                  static_cast<void*>(window.handle()), 160, 120, 160, 120);
    EXPECT_EQ(logs.count(3, expected), 1);
}

TEST(d3d9_manager, a_second_decoder_device_is_refused)
{
    fake_dxva2_decoder first;
    fake_dxva2_decoder second;
    ASSERT_TRUE(first.ready() && second.ready());
    test_window window(160, 120);
    log_capture logs;
    d3d9_manager manager;
    ASSERT_TRUE(manager.init_render(window.handle(), 160, 120, 160, 120, first.codec_context()));
    EXPECT_FALSE(manager.init_render(window.handle(), 160, 120, 160, 120, second.codec_context()));
    EXPECT_EQ(logs.count(1, format_pointers("d3d_dev_(%p) is not nullptr and not equal to "
                                            "hw_priv_->d3d9device(%p)!\n",
                                            first.device(), second.device())),
              1);
}

namespace {

// Draws a 64 x 32 three-plane picture with the software strategy of `kind` into the device's
// lockable back buffer and returns what landed there.
class strategy_bench : public ::testing::Test {
  protected:
    void SetUp() override
    {
        d3d9_ = Direct3DCreate9(D3D_SDK_VERSION);
        ASSERT_NE(d3d9_, nullptr);
        D3DPRESENT_PARAMETERS params = {};
        params.BackBufferWidth = 64;
        params.BackBufferHeight = 32;
        params.BackBufferFormat = D3DFMT_X8R8G8B8;
        params.BackBufferCount = 1;
        params.SwapEffect = D3DSWAPEFFECT_DISCARD;
        params.hDeviceWindow = window_.handle();
        params.Windowed = TRUE;
        params.Flags = D3DPRESENTFLAG_LOCKABLE_BACKBUFFER;
        ASSERT_EQ(d3d9_->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, window_.handle(),
                                      D3DCREATE_SOFTWARE_VERTEXPROCESSING, &params, &device_),
                  D3D_OK);
    }

    void TearDown() override
    {
        if (device_)
            device_->Release();
        if (d3d9_)
            d3d9_->Release();
    }

    captured_picture draw(int kind, int flips, float alpha)
    {
        std::unique_ptr<base_display> display(d3d9_manager::create_render(kind, device_));
        EXPECT_NE(display, nullptr);
        if (!display)
            return {};
        display->set_backbuffer_format(D3DFMT_X8R8G8B8);
        const RECT whole = {0, 0, 64, 32};
        EXPECT_TRUE(display->set_image_buffer(64, 32, kind, &whole));
        // Luma: a bright left half and a dark right half; plane 1 pushes towards blue,
        // plane 2 towards red.
        std::vector<uint8_t> y(64 * 32), p1(32 * 16, 240), p2(32 * 16, 128);
        for (int row = 0; row < 32; ++row)
            for (int col = 0; col < 64; ++col)
                y[static_cast<size_t>(row * 64 + col)] = row < 16 ? 100 : 30;
        uint8_t* planes[4] = {y.data(), p1.data(), p2.data(), nullptr};
        int strides[3] = {64, 32, 32};
        EXPECT_TRUE(display->upload_image(planes, strides, nullptr));

        IDirect3DSurface9* back = nullptr;
        device_->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back);
        device_->SetRenderTarget(0, back);
        device_->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000, 1.0f, 0);
        device_->BeginScene();
        EXPECT_TRUE(display->draw(alpha, flips, nullptr, nullptr));
        device_->EndScene();
        HDC dc = nullptr;
        captured_picture shot;
        if (SUCCEEDED(back->GetDC(&dc))) {
            shot = capture_dc(dc, 64, 32);
            back->ReleaseDC(dc);
        }
        back->Release();
        return shot;
    }

    test_window window_{64, 32};
    IDirect3D9* d3d9_ = nullptr;
    IDirect3DDevice9* device_ = nullptr;
};

} // namespace

TEST_F(strategy_bench, kind_0_swaps_the_chroma_planes)
{
    const captured_picture yuv = draw(display_kind_yuv, 0, 1.0f);
    const captured_picture yvu = draw(display_kind_yvu, 0, 1.0f);
    // Plane 1 holds 240: as U it makes blue strong; as V it makes red strong.
    EXPECT_GT(yuv.blue(10, 5), yuv.red(10, 5) + 100);
    EXPECT_GT(yvu.red(10, 5), yvu.blue(10, 5) + 100);
}

TEST_F(strategy_bench, both_flips_turn_the_picture_upside_down)
{
    const captured_picture plain = draw(display_kind_yuv, 0, 1.0f);
    const captured_picture turned = draw(display_kind_yuv, flip_vertical | flip_horizontal, 1.0f);
    EXPECT_GT(plain.green(10, 4), plain.green(10, 28));
    EXPECT_EQ(turned.at(10, 4), plain.at(53, 27));
    EXPECT_EQ(turned.at(10, 28), plain.at(53, 3));
}

TEST_F(strategy_bench, a_transparent_quad_is_not_drawn)
{
    const captured_picture nothing = draw(display_kind_yuv, 0, 0.001f);
    EXPECT_EQ(nothing.at(10, 4), 0u);
    EXPECT_EQ(d3d9_manager::create_render(5, device_), nullptr);
}
