// The DirectDraw backend reached the way users reach it: this program runs beside a d3d9.dll
// without Direct3D 9, so the front's capability check finds DirectDraw only. Pictures are read
// in the draw callback (after the adjustment, before the overlays), from the back surface and
// from the primary surface, and compared with libyuv's conversion followed by the integer
// adjustment.
#include <gtest/gtest.h>

#include <d3d9.h>
#include <libyuv/convert_argb.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <memory>

#include "backend_factory.h"
#include "dc_capture.h"
#include "ddraw_render/rgb_adjust.h"
#include "kx_vidrender.h"
#include "log_capture.h"
#include "test_picture.h"
#include "test_window.h"

namespace {

constexpr char ddraw_source[] = "..\\..\\..\\sources\\video_render\\ddraw_render\\ddraw_manager";

// `format` with one result code printed as the library prints codes (%p).
std::string with_code(const char* format, HRESULT code)
{
    char text[256];
    std::snprintf(text, sizeof(text), format,
                  reinterpret_cast<void*>(static_cast<uintptr_t>(static_cast<uint32_t>(code))));
    return text;
}

using adjust4 = std::array<int, 4>;
using strings = std::vector<std::string>;
constexpr adjust4 neutral = {50, 50, 50, 50};

struct yuv {
    uint8_t y, u, v;
};
// Black, white, grey, red, green, blue, yellow, cyan (BT.601 limited range).
const yuv patches[8] = {{16, 128, 128}, {235, 128, 128}, {126, 128, 128}, {81, 90, 240},
                        {145, 54, 34},  {41, 240, 110},  {210, 16, 146},  {170, 166, 16}};

// 4 x 2 flat patches with the colours above, left to right, top to bottom.
void paint_patches(test_picture& picture)
{
    const int w = picture.width / 4;
    const int h = picture.height / 2;
    for (int i = 0; i < 8; ++i)
        picture.paint(i % 4 * w, i / 4 * h, (i % 4 + 1) * w, (i / 4 + 1) * h, patches[i].y,
                      patches[i].u, patches[i].v);
}

// libyuv's conversion with the constants of the colour class, then the integer adjustment;
// 0x00RRGGBB.
std::vector<uint32_t> expected(const test_picture& picture, int color_class, const adjust4& adjust)
{
    const int w = picture.width;
    std::vector<uint32_t> pixels(static_cast<size_t>(w) * picture.height);
    libyuv::I420ToARGBMatrix(
        picture.y_plane.data(), picture.frame.linesize[0], picture.u_plane.data(),
        picture.frame.linesize[1], picture.v_plane.data(), picture.frame.linesize[2],
        reinterpret_cast<uint8_t*>(pixels.data()), w * 4,
        color_class == 1 ? &libyuv::kYuvH709Constants : &libyuv::kYuvI601Constants, w,
        picture.height);
    rgb_adjust::apply_plain(reinterpret_cast<uint8_t*>(pixels.data()), w, picture.height, w * 4,
                            rgb_adjust::make_params(adjust.data(), rgb_adjust::make_hue_turns()));
    for (uint32_t& pixel : pixels)
        pixel &= 0x00FFFFFF;
    return pixels;
}

uint32_t expected(const yuv& c, const adjust4& adjust = neutral)
{
    test_picture one(2, 2, c.y, c.u, c.v);
    return expected(one, 0, adjust)[0];
}

// The number of pixels that differ (the first one described in `first`), -1 for other sizes.
int differences(const std::vector<uint32_t>& got, const std::vector<uint32_t>& want, int width,
                std::string& first)
{
    if (got.size() != want.size())
        return -1;
    int count = 0;
    for (size_t i = 0; i < got.size(); ++i)
        if ((got[i] & 0x00FFFFFF) != want[i] && count++ == 0)
            first = "at " + std::to_string(i % width) + "," + std::to_string(i / width);
    return count;
}

class ddraw_render : public ::testing::Test {
  protected:
    void start(int width, int height, bool capture = true)
    {
        window_ = std::make_unique<test_window>(width, height);
        renderer_ = kx_vidrender::create_vrender(kx_pix_fmt_yuv420p);
        ASSERT_TRUE(renderer_->init_vrender(window_->handle(), width, height, nullptr));
        capture_.width = width;
        capture_.height = height;
        if (capture)
            renderer_->set_draw_callback(capture_callback, 0, &capture_);
    }

    void TearDown() override
    {
        if (renderer_)
            kx_vidrender::destroy_vrender(renderer_);
    }

    void draw(test_picture& picture)
    {
        const int before = capture_.frames;
        renderer_->render_frame(&picture.frame, picture.width, picture.height);
        ASSERT_EQ(capture_.frames, before + 1);
        ASSERT_FALSE(capture_.last.empty());
    }

    std::unique_ptr<test_window> window_;
    kx_vidrender* renderer_ = nullptr;
    frame_capture capture_;
};

} // namespace

TEST_F(ddraw_render, the_front_falls_back_to_directdraw_without_direct3d9)
{
    EXPECT_EQ(probe_render_caps(), caps_ddraw);
    log_capture logs;
    start(320, 240);
    char init_line[200];
    std::snprintf(init_line, sizeof(init_line),
                  "init video render with ddraw software! hwnd:%p, vwidth:%d, vheight:%d, "
                  "twidth:%d, theight:%d\n",
                  static_cast<void*>(window_->handle()), 320, 240, 320, 240);
    // Wine's driver has colour keys but no overlays and cannot blit from FOURCC surfaces,
    // so the copy surface is in the display's RGB format.
    const strings texts = logs.texts();
    ASSERT_EQ(texts.size(), 7u);
    EXPECT_EQ(texts[0], with_code("Check D3D9 Failed:%p\n", D3DERR_NOTAVAILABLE));
    EXPECT_EQ(texts[1], init_line);
    EXPECT_EQ(texts[2], "DirectDraw Capabilities: overlay=0 yuvoverlay=0 "
                        "can_deinterlace_overlay=0 colorkey=1 stretch=0 bltfourcc=0");
    EXPECT_EQ(strings(texts.begin() + 3, texts.end()),
              (strings{"ddp_fmt.dwRGBBitCount = 32,rmask = ff0000,gmask = ff00,bmask = ff\n",
                       "CreateSurface successfully with copy surface format:ARGB\n",
                       "create copy surface OK!\n", "create back surface OK!\n"}));
    for (size_t i = 1; i < texts.size(); ++i)
        EXPECT_EQ(logs.lines()[i].source, ddraw_source);
}

TEST_F(ddraw_render, colour_classes_and_adjustments_match_libyuv_and_the_integer_arithmetic)
{
    start(320, 240);
    test_picture picture(320, 240, 0, 0, 0);
    paint_patches(picture);
    const adjust4 grid[] = {{0, 50, 50, 50},  {100, 50, 50, 50}, {50, 0, 50, 50}, {50, 100, 50, 50},
                            {50, 50, 0, 50},  {50, 50, 100, 50}, {50, 50, 50, 0}, {50, 50, 50, 75},
                            {30, 70, 20, 90}, {100, 0, 100, 0},  {50, 50, 50, 50}};
    // Unspecified and BT.470BG are BT.601; BT.2020 is converted as BT.601 too.
    const int spaces[][2] = {{2, 0}, {5, 0}, {1, 1}, {9, 0}};
    for (const auto& space : spaces) {
        picture.frame.colorspace = space[0];
        for (const adjust4& adjust : grid) {
            ASSERT_TRUE(renderer_->set_image_adjust(adjust.data()));
            draw(picture);
            std::string first;
            EXPECT_EQ(
                differences(capture_.last.pixels, expected(picture, space[1], adjust), 320, first),
                0)
                << "colorspace " << space[0] << ", adjust " << adjust[0] << " " << adjust[1] << " "
                << adjust[2] << " " << adjust[3] << ", " << first;
        }
    }
}

TEST_F(ddraw_render, a_region_enlarges_its_part_of_the_frame_to_the_window)
{
    start(320, 240);
    test_picture picture(320, 240, 0, 0, 0);
    paint_patches(picture);
    // Green and blue of the bottom row: x 80..240, y 120..240 of the picture.
    display_region region = {1, 0, 2500, 7500, 5000, 10000, 0, 0};
    renderer_->set_display_region(&region);
    draw(picture);
    for (int y : {10, 120, 230})
        for (int x : {10, 80, 150, 170, 240, 310})
            EXPECT_EQ(capture_.last.at(x, y), expected(patches[x < 160 ? 5 : 6])) << x << "," << y;
}
