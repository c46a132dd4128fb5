// Software frames through the public interface onto Wine's Direct3D 9: the colours read back
// from the back buffer's device context in the draw callback, per colour class and
// adjustment, with odd sizes, padded strides, missing planes and the display region.
#include <gtest/gtest.h>

#include <array>
#include <memory>

#include "color_reference.h"
#include "dc_capture.h"
#include "kx_vidrender.h"
#include "log_capture.h"
#include "test_picture.h"
#include "test_window.h"

namespace {

using adjust4 = std::array<int, 4>;
constexpr adjust4 neutral = {50, 50, 50, 50};

struct patch_colour {
    uint8_t y, u, v;
};

// Black, white, grey, red, green, blue, yellow, cyan (BT.601 limited range).
const patch_colour patch_colours[8] = {{16, 128, 128}, {235, 128, 128}, {126, 128, 128},
                                       {81, 90, 240},  {145, 54, 34},   {41, 240, 110},
                                       {210, 16, 146}, {170, 166, 16}};

// A picture of 4 x 2 flat patches with the colours above, left to right, top to bottom.
void paint_patches(test_picture& picture)
{
    const int pw = picture.width / 4 / 2 * 2;
    const int ph = picture.height / 2 / 2 * 2;
    for (int i = 0; i < 8; ++i) {
        const int x0 = (i % 4) * pw;
        const int y0 = (i / 4) * ph;
        const int x1 = i % 4 == 3 ? picture.width : x0 + pw;
        const int y1 = i / 4 == 1 ? picture.height : y0 + ph;
        picture.paint(x0, y0, x1, y1, patch_colours[i].y, patch_colours[i].u, patch_colours[i].v);
    }
}

class d3d9_software : public ::testing::Test {
  protected:
    void start(int width, int height)
    {
        window_ = std::make_unique<test_window>(width, height);
        renderer_ = kx_vidrender::create_vrender(kx_pix_fmt_yuv420p);
        ASSERT_TRUE(renderer_->init_vrender(window_->handle(), width, height, nullptr));
        capture_.width = width;
        capture_.height = height;
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

    // Compares the centre of each patch of a 4 x 2 layout covering the capture.
    void expect_patches(int color_class, const adjust4& adjust, const char* what)
    {
        const captured_picture& shot = capture_.last;
        for (int i = 0; i < 8; ++i) {
            const int x = (i % 4) * shot.width / 4 + shot.width / 8;
            const int y = (i / 4) * shot.height / 2 + shot.height / 4;
            const patch_colour& c = patch_colours[i];
            const rgb8 want = expected_from_yuv(c.y, c.u, c.v, color_class, adjust);
            EXPECT_NEAR(shot.red(x, y), want.r, 2.0) << what << " patch " << i;
            EXPECT_NEAR(shot.green(x, y), want.g, 2.0) << what << " patch " << i;
            EXPECT_NEAR(shot.blue(x, y), want.b, 2.0) << what << " patch " << i;
        }
    }

    std::unique_ptr<test_window> window_;
    kx_vidrender* renderer_ = nullptr;
    frame_capture capture_;
};

} // namespace

TEST_F(d3d9_software, each_colour_class_converts_with_its_standard)
{
    start(320, 240);
    test_picture picture(320, 240, 0, 0, 0);
    paint_patches(picture);
    const struct {
        int colorspace;
        int color_class;
    } cases[] = {{6, 0}, {5, 0}, {2, 0}, {1, 1}, {9, 2}, {10, 2}};
    for (const auto& c : cases) {
        picture.frame.colorspace = c.colorspace;
        draw(picture);
        expect_patches(c.color_class, neutral, "colorspace");
    }
    // Black and white land exactly on the ends of the range.
    EXPECT_EQ(capture_.last.at(40, 60), 0x000000u);
    EXPECT_GE(capture_.last.red(120, 60), 254);
}

TEST_F(d3d9_software, adjustments_follow_the_formulas)
{
    start(320, 240);
    test_picture picture(320, 240, 0, 0, 0);
    paint_patches(picture);
    const adjust4 grid[] = {{0, 50, 50, 50},  {20, 50, 50, 50}, {80, 50, 50, 50}, {100, 50, 50, 50},
                            {50, 0, 50, 50},  {50, 30, 50, 50}, {50, 70, 50, 50}, {50, 100, 50, 50},
                            {50, 50, 0, 50},  {50, 50, 25, 50}, {50, 50, 75, 50}, {50, 50, 100, 50},
                            {50, 50, 50, 0},  {50, 50, 50, 25}, {50, 50, 50, 75}, {50, 50, 50, 100},
                            {30, 70, 20, 90}, {100, 0, 100, 0}};
    for (int color_class : {0, 1}) {
        picture.frame.colorspace = color_class == 1 ? 1 : 0;
        for (const adjust4& adjust : grid) {
            ASSERT_TRUE(renderer_->set_image_adjust(adjust.data()));
            draw(picture);
            expect_patches(color_class, adjust, "adjustment");
        }
    }
}

TEST_F(d3d9_software, odd_sizes_and_padded_strides)
{
    start(641, 481);
    test_picture picture(641, 481, 0, 0, 0, 13);
    paint_patches(picture);
    draw(picture);
    expect_patches(0, neutral, "scaled 641x481");

    // Shown through a whole-picture region the frame's own padded planes are uploaded.
    display_region whole = {1, 0, 0, 10000, 0, 10000, 0, 0};
    renderer_->set_display_region(&whole);
    draw(picture);
    expect_patches(0, neutral, "padded 641x481");
}

TEST_F(d3d9_software, missing_planes_are_skipped_without_harm)
{
    start(320, 240);
    test_picture picture(320, 240, 235, 128, 128);
    display_region whole = {1, 0, 0, 10000, 0, 10000, 0, 0};
    renderer_->set_display_region(&whole);
    draw(picture);
    picture.frame.data[1] = nullptr;
    picture.frame.data[2] = nullptr;
    draw(picture);
    // The chroma textures keep whatever they held; the luma plane still arrives.
    picture.frame.data[0] = nullptr;
    draw(picture);
}

TEST_F(d3d9_software, a_region_enlarges_its_part_to_the_window)
{
    start(320, 240);
    test_picture picture(320, 240, 0, 0, 0);
    paint_patches(picture);
    // The second patch of the top row: x 80..160, y 0..120 of the picture.
    display_region region = {1, 0, 2500, 5000, 0, 5000, 0, 0};
    renderer_->set_display_region(&region);
    draw(picture);
    const rgb8 white = expected_from_yuv(235, 128, 128, 0, neutral);
    for (int y : {20, 120, 220})
        for (int x : {20, 160, 300})
            EXPECT_NEAR(capture_.last.green(x, y), white.g, 2.0) << x << "," << y;
}

TEST_F(d3d9_software, a_resized_window_rebuilds_and_fills_the_new_size)
{
    start(320, 240);
    log_capture logs;
    test_picture picture(320, 240, 0, 0, 0);
    paint_patches(picture);
    draw(picture);
    window_->resize(400, 300);
    capture_.width = 400;
    capture_.height = 300;
    draw(picture);
    expect_patches(0, neutral, "resized");
    EXPECT_EQ(logs.count(3, "window size(400*300) changed ,update window texture!\n"), 1);
    EXPECT_EQ(logs.count(3, "video size(400*300) changed, update window texture!\n"), 1);
}
