// The DirectDraw manager below the front: the state before initialisation, the fall-back of
// each off-screen surface from video to system memory, and the copy surface written in each
// layout a primary surface can have.
#include <gtest/gtest.h>

#include <libyuv/convert_argb.h>

#include <cstring>
#include <memory>

#include "ddraw_fault_surface.h"
#include "log_capture.h"
#include "test_picture.h"
#include "test_window.h"

namespace {

using strings = std::vector<std::string>;

DDPIXELFORMAT rgb_format(DWORD bits, DWORD red, DWORD green, DWORD blue)
{
    DDPIXELFORMAT format;
    std::memset(&format, 0, sizeof(format));
    format.dwSize = sizeof(format);
    format.dwFlags = DDPF_RGB;
    format.dwRGBBitCount = bits;
    format.dwRBitMask = red;
    format.dwGBitMask = green;
    format.dwBBitMask = blue;
    return format;
}

// The component of `pixel` under `mask`, and the mask's width in bits.
int component(uint32_t pixel, uint32_t mask, int& bits)
{
    int shift = 0;
    while (!(mask >> shift & 1))
        ++shift;
    for (bits = 0; mask >> (shift + bits) & 1; ++bits) {
    }
    return static_cast<int>(pixel >> shift & ((1u << bits) - 1));
}

} // namespace

TEST(ddraw_manager, does_nothing_before_initialisation)
{
    ddraw_manager manager;
    EXPECT_EQ(manager.check_device(), device_skip);
    EXPECT_FALSE(manager.draw_image(nullptr, nullptr, nullptr, nullptr));
    EXPECT_FALSE(manager.present(nullptr, nullptr));
    EXPECT_EQ(manager.copy_format_key(), ddraw_manager::copy_format_none);
}

TEST(ddraw_manager, each_offscreen_surface_falls_back_to_system_memory_once)
{
    log_capture logs;
    surface_wrapping surfaces;
    test_window window(160, 120);
    auto manager = std::make_unique<ddraw_manager>();
    surfaces.refuse(ddraw_manager::surface_copy, 1);
    surfaces.refuse(ddraw_manager::surface_back, 1);
    ASSERT_TRUE(manager->init_render(window.handle(), 160, 120, 160, 120, nullptr));
    const strings texts = logs.texts();
    EXPECT_EQ(
        strings(texts.begin() + 3, texts.end()),
        (strings{
            "CreateSurface successfully with copy surface format:ARGB\n",
            with_code("CreateSurface yuv_offscreen_surface error!result:0x%p\n", E_NOINTERFACE),
            "create copy surface with video memory error!\n",
            "CreateSurface successfully with copy surface format:ARGB\n",
            "create copy surface OK!\n",
            "QueryInterface rgb_offscreen_surface error,use_sysmem:0!\n",
            "create back surface with video memory error!\n", "create back surface OK!\n"}));
    for (int role : {ddraw_manager::surface_copy, ddraw_manager::surface_back})
        EXPECT_TRUE(surface_description(surfaces[role]).ddsCaps.dwCaps & DDSCAPS_SYSTEMMEMORY);

    // A second failure ends the initialisation, and the surfaces made so far are let go.
    const struct {
        int role;
        const char* line;
    } second_failures[] = {
        {ddraw_manager::surface_back, "create back surface with system memory error!\n"},
        {ddraw_manager::surface_copy, "create copy surface with system memory error!\n"},
        {ddraw_manager::surface_primary, "cannot get IDirectDraw2 interface"}};
    for (const auto& failure : second_failures) {
        logs.clear();
        manager = std::make_unique<ddraw_manager>();
        surfaces.refuse(failure.role, 2);
        EXPECT_FALSE(manager->init_render(window.handle(), 160, 120, 160, 120, nullptr));
        EXPECT_EQ(logs.count(1, failure.line), 1) << failure.line;
        EXPECT_EQ(manager->check_device(), device_skip);
        surfaces.refuse(failure.role, 0);
    }
}

TEST(ddraw_manager, the_copy_surface_holds_the_picture_in_the_primary_layout)
{
    // Red, green, blue and white quarters, read back through each layout's masks and compared
    // with libyuv's BT.601 conversion.
    test_picture picture(64, 32, 0, 0, 0);
    const uint8_t quarters[4][3] = {{81, 90, 240}, {145, 54, 34}, {41, 240, 110}, {235, 128, 128}};
    for (int i = 0; i < 4; ++i)
        picture.paint(i * 16, 0, i * 16 + 16, 32, quarters[i][0], quarters[i][1], quarters[i][2]);
    std::vector<uint32_t> reference(64 * 32);
    libyuv::I420ToARGBMatrix(
        picture.y_plane.data(), 64, picture.u_plane.data(), 32, picture.v_plane.data(), 32,
        reinterpret_cast<uint8_t*>(reference.data()), 64 * 4, &libyuv::kYuvI601Constants, 64, 32);

    const DDPIXELFORMAT layouts[] = {
        rgb_format(32, 0x00FF0000, 0x0000FF00, 0x000000FF),
        rgb_format(32, 0xFF000000, 0x00FF0000, 0x0000FF00),
        rgb_format(32, 0x0000FF00, 0x00FF0000, 0xFF000000),
        rgb_format(32, 0x000000FF, 0x0000FF00, 0x00FF0000),
        rgb_format(16, 0x7C00, 0x03E0, 0x001F),
        rgb_format(15, 0x7C00, 0x03E0, 0x001F),
        rgb_format(16, 0xF800, 0x07E0, 0x001F),
    };
    test_window window(64, 32);
    for (const DDPIXELFORMAT& layout : layouts) {
        surface_wrapping surfaces;
        surfaces.report_primary_format(layout);
        ddraw_manager manager;
        ASSERT_TRUE(manager.init_render(window.handle(), 64, 32, 64, 32, nullptr));
        manager.draw_image(picture.frame.data, picture.frame.linesize, nullptr, nullptr);
        // Wine's copy surface is 32-bit; a 16-bit layout packs two pixels into each word.
        const std::vector<uint32_t> words =
            surface_pixels(surfaces[ddraw_manager::surface_copy], 64, 1);
        ASSERT_EQ(words.size(), 64u);
        const bool wide = layout.dwRGBBitCount == 32;
        for (int x = 0; x < 64; x += 5) {
            const uint32_t pixel = wide ? words[x] : (words[x / 2] >> (x % 2 * 16)) & 0xFFFF;
            const DWORD masks[3] = {layout.dwRBitMask, layout.dwGBitMask, layout.dwBBitMask};
            for (int c = 0; c < 3; ++c) {
                int bits = 0;
                const int got = component(pixel, masks[c], bits);
                const int want = static_cast<int>(reference[x] >> (16 - 8 * c) & 0xFF);
                EXPECT_EQ(got, want >> (8 - bits)) << layout.dwRGBBitCount << "-bit, red mask "
                                                   << layout.dwRBitMask << ", x " << x;
            }
        }
    }

    // Another layout: nothing is written.
    surface_wrapping surfaces;
    surfaces.report_primary_format(rgb_format(24, 0xFF0000, 0x00FF00, 0x0000FF));
    ddraw_manager manager;
    ASSERT_TRUE(manager.init_render(window.handle(), 64, 32, 64, 32, nullptr));
    IDirectDrawSurface2* copy = fault_surface::unwrap(surfaces[ddraw_manager::surface_copy]);
    DDSURFACEDESC locked = surface_description(copy);
    ASSERT_TRUE(SUCCEEDED(copy->Lock(nullptr, &locked, DDLOCK_WAIT, nullptr)));
    std::memset(locked.lpSurface, 0x5A, static_cast<size_t>(locked.lPitch) * 32);
    copy->Unlock(nullptr);
    manager.draw_image(picture.frame.data, picture.frame.linesize, nullptr, nullptr);
    for (uint32_t word : surface_pixels(copy, 64, 32))
        ASSERT_EQ(word, 0x5A5A5A5Au);
}
