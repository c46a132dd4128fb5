// Each backend where the pixel table alone cannot tell: the DirectDraw copy surface in each
// layout a primary surface can have, the Direct3D 11 copy under the decoder's lock and the
// Direct3D 9 decoders' devices drawn on by one renderer at a time.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <memory>
#include <thread>

#include "color_reference.h"
#include "com_patch.h"
#include "d3d11_fake_decoder.h"
#include "d3d11_readback.h"
#include "dc_capture.h"
#include "ddraw_render/ddraw_manager.h"
#include "ddraw_surface.h"
#include "fake_dxva2_decoder.h"
#include "kx_vidrender.h"
#include "test_picture.h"
#include "test_window.h"

namespace {

DDPIXELFORMAT forced_primary_format;
IDirectDrawSurface2* last_blt_source = nullptr;

using blt_patch = method_patch<&IDirectDrawSurface2::Blt>;
using format_patch = method_patch<&IDirectDrawSurface2::GetPixelFormat>;
using release_patch = method_patch<&IDirect3DDevice9::Release>;

// Set while a draw callback runs inside a frame on the first decoder's device, and how often
// another thread let go of that device (as letting go of any of its objects does) meanwhile.
std::atomic<bool> drawing{false};
std::atomic<int> released_while_drawing{0};

std::vector<uint32_t> first_row(IDirectDrawSurface2* surface, int words)
{
    DDSURFACEDESC desc = {};
    desc.dwSize = sizeof(desc);
    std::vector<uint32_t> row;
    if (SUCCEEDED(surface->Lock(nullptr, &desc, DDLOCK_WAIT, nullptr))) {
        row.assign(static_cast<uint32_t*>(desc.lpSurface),
                   static_cast<uint32_t*>(desc.lpSurface) + words);
        surface->Unlock(nullptr);
    }
    return row;
}

} // namespace

TEST(ddraw_copy_surface, holds_the_picture_in_each_layout_of_the_primary_surface)
{
    // Red, green, blue and white quarters, each channel read back through the layout's mask.
    const int quarters[4][3] = {{81, 90, 240}, {145, 54, 34}, {41, 240, 110}, {235, 128, 128}};
    test_picture picture(64, 32, 0, 0, 0);
    for (int i = 0; i < 4; ++i)
        picture.paint(i * 16, 0, i * 16 + 16, 32, uint8_t(quarters[i][0]), uint8_t(quarters[i][1]),
                      uint8_t(quarters[i][2]));
    struct layout {
        DWORD bits, masks[3];
    };
    const layout layouts[] = {{32, {0x00FF0000, 0x0000FF00, 0x000000FF}},
                              {32, {0xFF000000, 0x00FF0000, 0x0000FF00}},
                              {32, {0x0000FF00, 0x00FF0000, 0xFF000000}},
                              {32, {0x000000FF, 0x0000FF00, 0x00FF0000}},
                              {16, {0x7C00, 0x03E0, 0x001F}},
                              {15, {0x7C00, 0x03E0, 0x001F}},
                              {16, {0xF800, 0x07E0, 0x001F}}};
    test_window window(64, 32);
    IDirectDrawSurface2* const surface = make_ddraw_surface2();
    blt_patch blt(
        surface,
        [](IDirectDrawSurface2* self, RECT* to, IDirectDrawSurface2* source, RECT* from,
           DWORD flags, DDBLTFX* fx) {
            last_blt_source = source;
            return blt_patch::next(self, to, source, from, flags, fx);
        },
        true);
    for (const layout& l : layouts) {
        forced_primary_format = {sizeof(DDPIXELFORMAT), DDPF_RGB,     0,  {l.bits}, {l.masks[0]},
                                 {l.masks[1]},          {l.masks[2]}, {0}};
        ddraw_manager manager;
        {
            format_patch format(
                surface,
                [](IDirectDrawSurface2*, DDPIXELFORMAT* format) {
                    *format = forced_primary_format;
                    return DD_OK;
                },
                true);
            ASSERT_TRUE(manager.init_render(window.handle(), 64, 32, 64, 32, nullptr));
        }
        last_blt_source = nullptr;
        manager.draw_image(picture.frame.data, picture.frame.linesize, nullptr, nullptr);
        ASSERT_NE(last_blt_source, nullptr);
        // Wine's copy surface is 32-bit; a 16-bit layout packs two pixels into each word.
        const std::vector<uint32_t> words = first_row(last_blt_source, 64);
        ASSERT_EQ(words.size(), 64u);
        for (int x = 2; x < 64; x += 16) {
            const uint32_t pixel = l.bits == 32 ? words[x] : words[x / 2] >> (x % 2 * 16) & 0xFFFF;
            const int* c = quarters[x / 16];
            const rgb8 want = expected_from_yuv(c[0], c[1], c[2], 0, neutral_adjust);
            const double wanted[3] = {want.r, want.g, want.b};
            for (int k = 0; k < 3; ++k) {
                const DWORD mask = l.masks[k];
                const DWORD low = mask & (~mask + 1);
                const double scale = 255.0 / double(mask / low);
                EXPECT_NEAR(double(pixel / low & mask / low) * scale, wanted[k], 3 + scale)
                    << l.bits << "-bit, red mask " << l.masks[0] << ", x " << x << ", channel "
                    << k;
            }
        }
    }
    surface->Release();
}

TEST(d3d11_frames, are_copied_under_the_decoders_lock_and_leave_its_references_as_they_were)
{
    fake_d3d11_decoder decoder(64, 32, 2);
    ASSERT_TRUE(decoder.ready());
    decoder.fill_luma(0, [](int, int) -> uint8_t { return 40; });
    decoder.fill_luma(1, [](int, int) -> uint8_t { return 100; });
    const ULONG device_refs = reference_count(decoder.device());
    const ULONG context_refs = reference_count(decoder.context());
    test_window window(128, 64);
    kx_vidrender* renderer = kx_vidrender::create_vrender(kx_pix_fmt_d3d11);
    ASSERT_TRUE(renderer->init_vrender(window.handle(), 64, 32, decoder.codec_context()));
    const int slices[] = {1, 0, 1};
    for (int i = 0; i < 3; ++i) {
        if (i == 2)
            window.resize(120, 60); // rebuilds the backend
        const int luma = slices[i] == 1 ? 100 : 40;
        decoder.fill_chroma(128, 128); // the stand-in of the backend before any rebuild
        AVFrame frame = decoder.frame_of(slices[i]);
        renderer->render_frame(&frame, 64, 32);
        // Taken once per frame around the copy: the slice arrives in between.
        ASSERT_EQ(decoder.locks, i + 1);
        ASSERT_EQ(decoder.unlocks, i + 1);
        EXPECT_NE(decoder.luma_at_lock.back(), luma);
        EXPECT_EQ(decoder.luma_at_unlock.back(), luma);
        const texture_pixels shown = read_bound_target(decoder.context());
        ASSERT_FALSE(shown.empty());
        if (i < 2) { // a rebuilt backend's chroma stand-in is new and not filled yet
            EXPECT_NEAR(shown.green(shown.width / 2, shown.height / 2),
                        expected_from_yuv(luma, 128, 128, 0, neutral_adjust).g, 3);
        }
    }
    kx_vidrender::destroy_vrender(renderer);
    decoder.release_standins();
    EXPECT_EQ(reference_count(decoder.device()), device_refs);
    EXPECT_EQ(reference_count(decoder.context()), context_refs);
}

TEST(dxva2_devices, are_drawn_on_by_one_renderer_at_a_time_while_renderers_move_between_them)
{
    fake_dxva2_decoder decoders[2];
    ASSERT_TRUE(decoders[0].ready() && decoders[1].ready());
    uint32_t (*const fills[2])(int, int) = {[](int, int) { return 0x2060A0u; },
                                            [](int, int) { return 0xA06020u; }};
    IDirect3DSurface9* surfaces[2] = {decoders[0].make_surface(64, 32, fills[0]),
                                      decoders[1].make_surface(64, 32, fills[1])};
    AVFrame frames[2] = {decoders[0].frame_of(surfaces[0]), decoders[1].frame_of(surfaces[1])};
    com_targets::add(decoders[0].device());
    release_patch release(decoders[0].device(), [](IDirect3DDevice9* self) {
        released_while_drawing += drawing;
        return release_patch::next(self);
    });
    std::atomic<bool> stop{false};
    std::thread drawer([&] { // draws the first decoder's frames throughout
        test_window window(64, 32);
        kx_vidrender* renderer = kx_vidrender::create_vrender(kx_pix_fmt_dxva2_vld);
        renderer->init_vrender(window.handle(), 64, 32, decoders[0].codec_context());
        renderer->set_draw_callback(
            [](void*, int, void*) { drawing = true, Sleep(2), drawing = false; }, 0, nullptr);
        for (; !stop; test_window::pump_messages())
            renderer->render_frame(&frames[0], 64, 32);
        kx_vidrender::destroy_vrender(renderer);
    });
    // Renderers made on either device, moved to the other's frames halfway and destroyed.
    test_window window(64, 32);
    for (int round = 0; round < 16; ++round) {
        kx_vidrender* renderer = kx_vidrender::create_vrender(kx_pix_fmt_dxva2_vld);
        renderer->init_vrender(window.handle(), 64, 32, decoders[round % 2].codec_context());
        frame_capture capture = {64, 32, 0, {}};
        renderer->set_draw_callback(capture_callback, 0, &capture);
        for (int n = 0; n < 4; ++n, test_window::pump_messages())
            renderer->render_frame(&frames[(round + n / 2) % 2], 64, 32);
        ASSERT_EQ(capture.frames, 4);
        EXPECT_EQ(capture.last.at(32, 16) & 0xFFFFFF, fills[(round + 1) % 2](0, 0)) << round;
        kx_vidrender::destroy_vrender(renderer);
    }
    stop = true;
    drawer.join();
    EXPECT_EQ(released_while_drawing, 0);
    com_targets::remove(decoders[0].device());
    surfaces[0]->Release();
    surfaces[1]->Release();
}
