// The display region: what the backend is asked to show and where the overlays go.
#include <gtest/gtest.h>

#include "front_fixture.h"

using strings = std::vector<std::string>;

TEST_F(front_test, a_region_shows_its_part_enlarged_to_the_window)
{
    make_ready(kx_pix_fmt_yuv420p, 800, 600);
    display_region region = {1, 0, 2500, 7500, 2500, 7500, 0, 0};
    renderer_->set_display_region(&region);
    test_picture picture(640, 480, 16, 128, 128);
    renderer_->render_frame(&picture.frame, 640, 480);
    // Not scaled: the frame's planes go to the backend, rebuilt for the picture size.
    EXPECT_EQ(seam_.last_drawn().planes[0], picture.y_plane.data());
    EXPECT_EQ(journal({"init_render", "update_image", "draw_image", "draw_overlays"}),
              (strings{"2 init_render video 640x480 target 800x600 window set ctx "
                       "0000000000000000",
                       "2 update_image src 160,120,480,360",
                       "2 draw_image strides 640,320,320 dst 0,0,800,600 src 160,120,480,360",
                       "2 draw_overlays groups 0 ref 640x480 area 200,150,600,450"}));
}

TEST_F(front_test, overlay_area_edges_are_truncated)
{
    make_ready(kx_pix_fmt_yuv420p, 700, 500);
    display_region region = {1, 0, 3333, 6667, 1111, 9999, 0, 0};
    renderer_->set_display_region(&region);
    test_picture picture(333, 277, 16, 128, 128);
    renderer_->render_frame(&picture.frame, 333, 277);
    // source: 3333*333/10000 = 110, 6667*333/10000 = 222, 1111*277/10000 = 30,
    // 9999*277/10000 = 276; times 700/333 and 500/277, truncated.
    EXPECT_EQ(journal({"draw_overlays"}),
              (strings{"2 draw_overlays groups 0 ref 333x277 area 231,54,466,498"}));
}

TEST_F(front_test, dxva2_frames_in_a_region_are_drawn_without_rectangles)
{
    make_ready(kx_pix_fmt_dxva2_vld, 800, 600, 640, 480);
    display_region region = {1, 0, 0, 5000, 0, 5000, 0, 0};
    renderer_->set_display_region(&region);
    test_picture picture(640, 480, 16, 128, 128, 0, 53);
    renderer_->render_frame(&picture.frame, 640, 480);
    EXPECT_EQ(journal({"update_image", "draw_image"}),
              (strings{"1 update_image src 0,0,320,240",
                       "1 draw_image strides 640,320,320 dst null src null"}));
}

TEST_F(front_test, a_region_needs_enabled_right_and_bottom)
{
    make_ready(kx_pix_fmt_yuv420p, 640, 480);
    test_picture picture(320, 240, 16, 128, 128);
    for (display_region region :
         {display_region{1, 0, 0, 0, 0, 5000, 0, 0}, display_region{1, 0, 0, 5000, 0, 0, 0, 0},
          display_region{0, 0, 0, 5000, 0, 5000, 0, 0}}) {
        renderer_->set_display_region(&region);
        renderer_->render_frame(&picture.frame, 320, 240);
    }
    EXPECT_EQ(journal({"draw_image"}),
              (strings{"1 draw_image strides 640,320,320 dst null src null",
                       "1 draw_image strides 640,320,320 dst null src null",
                       "1 draw_image strides 640,320,320 dst null src null"}));
}

TEST_F(front_test, a_region_set_before_init_keeps_the_given_video_size)
{
    window_ = std::make_unique<test_window>(640, 480);
    make(kx_pix_fmt_yuv420p);
    display_region region = {1, 0, 0, 10000, 0, 10000, 0, 0};
    renderer_->set_display_region(&region);
    ASSERT_TRUE(renderer_->init_vrender(window_->handle(), 352, 288, nullptr));
    EXPECT_EQ(journal({"init_render"}),
              (strings{"1 init_render video 352x288 target 640x480 window set ctx "
                       "0000000000000000"}));
}

TEST_F(front_test, a_null_region_is_refused_with_a_line)
{
    make(kx_pix_fmt_yuv420p);
    renderer_->set_display_region(nullptr);
    EXPECT_EQ(logs_.count(1, "set_display_region region is nullptr!\n"), 1);
}
