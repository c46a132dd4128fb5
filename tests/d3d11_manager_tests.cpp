// The Direct3D 11 backend on a device of its own: the swap chain on a real window, the NV12
// video texture that Wine refuses (so frames are refused too), the clear of begin_render and
// the result of present, injected through a wrapper swap chain.
#include <gtest/gtest.h>

#include <memory>

#include "d3d11_fault_swap_chain.h"
#include "d3d11_readback.h"
#include "d3d11_render/d3d11_manager.h"
#include "ffmpeg_records.h"
#include "log_capture.h"
#include "test_window.h"

namespace {

constexpr char manager_source[] = "..\\..\\..\\sources\\video_render\\d3d11_render\\d3d11_manager";
// What Wine answers to the NV12 video texture.
constexpr char nv12_refused[] = "ID3D11Device::CreateTexture2D() failed, 80070057";

// Fills buffer 0 of the swap chain with a colour through the swap chain's own device.
void paint_back_buffer(IDXGISwapChain* swap_chain, const float (&rgba)[4])
{
    ID3D11Texture2D* buffer = nullptr;
    ASSERT_EQ(
        swap_chain->GetBuffer(0, __uuidof(ID3D11Texture2D), reinterpret_cast<void**>(&buffer)),
        S_OK);
    ID3D11Device* device = nullptr;
    buffer->GetDevice(&device);
    ID3D11DeviceContext* context = nullptr;
    device->GetImmediateContext(&context);
    ID3D11RenderTargetView* view = nullptr;
    ASSERT_EQ(device->CreateRenderTargetView(buffer, nullptr, &view), S_OK);
    context->ClearRenderTargetView(view, rgba);
    view->Release();
    context->Release();
    device->Release();
    buffer->Release();
}

texture_pixels back_buffer_of(IDXGISwapChain* swap_chain)
{
    ID3D11Texture2D* buffer = nullptr;
    if (FAILED(
            swap_chain->GetBuffer(0, __uuidof(ID3D11Texture2D), reinterpret_cast<void**>(&buffer))))
        return {};
    ID3D11Device* device = nullptr;
    buffer->GetDevice(&device);
    ID3D11DeviceContext* context = nullptr;
    device->GetImmediateContext(&context);
    texture_pixels pixels = read_pixels(context, buffer);
    context->Release();
    device->Release();
    buffer->Release();
    return pixels;
}

} // namespace

TEST(d3d11_manager, does_nothing_before_init_but_takes_its_settings)
{
    d3d11_manager manager;
    EXPECT_EQ(manager.render_type(), render_kind_d3d11);
    const int values[4] = {10, 20, 30, 40};
    EXPECT_TRUE(manager.set_image_adjust(values));
    EXPECT_FALSE(manager.set_image_adjust(nullptr));
    manager.set_color_space(2);
    uint8_t* planes[4] = {};
    EXPECT_FALSE(manager.begin_render(true, 0xFF000000));
    EXPECT_FALSE(manager.draw_image(planes, nullptr, nullptr, nullptr));
    EXPECT_FALSE(manager.present(nullptr, nullptr));
    EXPECT_EQ(manager.check_device(), device_ready);
}

TEST(d3d11_manager, an_own_device_gets_a_swap_chain_of_the_window_size_but_no_video_texture)
{
    test_window window(320, 240);
    swap_chain_catcher catcher;
    log_capture logs;
    d3d11_manager manager;
    ASSERT_TRUE(manager.init_render(window.handle(), 160, 120, 999, 999, nullptr));

    // Wine refuses NV12 textures: the failure is logged and initialisation goes on.
    ASSERT_EQ(logs.texts(), std::vector<std::string>{nv12_refused});
    EXPECT_EQ(logs.lines()[0].level, 1);
    EXPECT_EQ(logs.lines()[0].source, manager_source);

    ASSERT_EQ(catcher.caught().size(), 1u);
    const DXGI_SWAP_CHAIN_DESC desc = catcher.last()->description();
    EXPECT_EQ(desc.BufferDesc.Width, 320u);
    EXPECT_EQ(desc.BufferDesc.Height, 240u);
    EXPECT_EQ(desc.BufferDesc.Format, DXGI_FORMAT_B8G8R8A8_UNORM);
    EXPECT_EQ(desc.BufferCount, 1u);
    EXPECT_EQ(desc.OutputWindow, window.handle());
    EXPECT_TRUE(desc.Windowed);
    EXPECT_EQ(desc.SwapEffect, DXGI_SWAP_EFFECT_DISCARD);

    // Without the video texture every frame is refused, silently.
    D3D11_TEXTURE2D_DESC picture_desc = {
        64, 32, 1, 1, DXGI_FORMAT_R8_UNORM, {1, 0}, D3D11_USAGE_DEFAULT, D3D11_BIND_SHADER_RESOURCE,
        0,  0};
    ID3D11Device* device = nullptr;
    ASSERT_EQ(catcher.last()->GetDevice(__uuidof(ID3D11Device), reinterpret_cast<void**>(&device)),
              S_OK);
    ID3D11Texture2D* picture = nullptr;
    ASSERT_EQ(device->CreateTexture2D(&picture_desc, nullptr, &picture), S_OK);
    uint8_t* planes[4] = {reinterpret_cast<uint8_t*>(picture), nullptr, nullptr, nullptr};
    EXPECT_TRUE(manager.begin_render(true, 0xFF000000));
    EXPECT_FALSE(manager.draw_image(planes, nullptr, nullptr, nullptr));
    EXPECT_TRUE(manager.present(nullptr, nullptr));
    EXPECT_EQ(logs.lines().size(), 1u);
    picture->Release();
    device->Release();
}

TEST(d3d11_manager, a_window_that_cannot_be_measured_gives_the_video_size)
{
    HWND gone = nullptr;
    {
        test_window window(320, 240);
        gone = window.handle();
    }
    swap_chain_catcher catcher;
    AVCodecContext software = {}; // no hw_device_ctx: the backend makes its own device
    d3d11_manager manager;
    ASSERT_TRUE(manager.init_render(gone, 176, 144, 320, 240, &software));
    ASSERT_NE(catcher.last(), nullptr);
    EXPECT_EQ(catcher.last()->description().BufferDesc.Width, 176u);
    EXPECT_EQ(catcher.last()->description().BufferDesc.Height, 144u);
}

TEST(d3d11_manager, begin_render_clears_to_opaque_black_whatever_it_is_given)
{
    test_window window(200, 100);
    swap_chain_catcher catcher;
    d3d11_manager manager;
    ASSERT_TRUE(manager.init_render(window.handle(), 200, 100, 200, 100, nullptr));
    for (const bool clear : {false, true}) {
        paint_back_buffer(catcher.last(), {1.0f, 0.5f, 0.25f, 0.0f});
        EXPECT_TRUE(manager.begin_render(clear, 0x00FFFFFFu));
        const texture_pixels pixels = back_buffer_of(catcher.last());
        ASSERT_FALSE(pixels.empty());
        for (const auto& point : {std::array<int, 2>{0, 0}, {199, 99}, {100, 50}}) {
            EXPECT_EQ(pixels.red(point[0], point[1]), 0);
            EXPECT_EQ(pixels.green(point[0], point[1]), 0);
            EXPECT_EQ(pixels.blue(point[0], point[1]), 0);
            EXPECT_EQ(pixels.alpha(point[0], point[1]), 255);
        }
    }
}

TEST(d3d11_manager, present_succeeds_only_when_the_swap_chain_answers_s_ok)
{
    test_window window(160, 120);
    swap_chain_catcher catcher;
    d3d11_manager manager;
    ASSERT_TRUE(manager.init_render(window.handle(), 160, 120, 160, 120, nullptr));
    fault_dxgi_swap_chain* swap_chain = catcher.last();
    ASSERT_NE(swap_chain, nullptr);
    EXPECT_TRUE(manager.present(nullptr, nullptr));
    swap_chain->present_result = DXGI_STATUS_OCCLUDED;
    EXPECT_FALSE(manager.present(nullptr, nullptr));
    swap_chain->present_result = DXGI_ERROR_DEVICE_REMOVED;
    EXPECT_FALSE(manager.present(nullptr, nullptr));
    swap_chain->present_result = S_OK;
    EXPECT_TRUE(manager.present(nullptr, nullptr));
    EXPECT_EQ(swap_chain->present_calls, 4);
}
