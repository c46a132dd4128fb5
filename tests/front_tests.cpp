// The render front against recording backends: backend choice, window limits, scaling,
// rebuilds with their log lines, device states, setters and bad input.
#include <gtest/gtest.h>

#include "backend_factory.h"
#include "front_fixture.h"

using strings = std::vector<std::string>;

TEST(backend_choice, follows_format_then_capabilities)
{
    EXPECT_EQ(choose_backend(53, 0), render_kind_d3d9);
    EXPECT_EQ(choose_backend(53, caps_ddraw), render_kind_d3d9);
    EXPECT_EQ(choose_backend(174, caps_d3d9), render_kind_d3d11);
    EXPECT_EQ(choose_backend(174, 0), render_kind_d3d11);
    EXPECT_EQ(choose_backend(0, caps_d3d9), render_kind_d3d9);
    EXPECT_EQ(choose_backend(12, caps_d3d9 | caps_ddraw), render_kind_d3d9);
    EXPECT_EQ(choose_backend(0, caps_ddraw), render_kind_ddraw);
    EXPECT_EQ(choose_backend(23, caps_ddraw), render_kind_ddraw);
    EXPECT_EQ(choose_backend(0, 0), no_backend);
}

TEST(backend_choice, platform_probe_finds_direct3d9_under_wine)
{
    EXPECT_EQ(probe_render_caps(), caps_d3d9);
}

TEST_F(front_test, init_builds_the_chosen_backend_for_the_window_size)
{
    window_ = std::make_unique<test_window>(640, 480);
    seam_.script().caps = caps_ddraw;
    make(kx_pix_fmt_yuv420p);
    ASSERT_TRUE(renderer_->init_vrender(window_->handle(), 320, 240, nullptr));
    EXPECT_EQ(journal({"construct", "init_render"}),
              (strings{"1 construct kind 0",
                       "1 init_render video 640x480 target 640x480 window set ctx 00000000"
                       "00000000"}));
}

TEST_F(front_test, init_passes_the_codec_context_for_hardware_formats_only)
{
    window_ = std::make_unique<test_window>(640, 480);
    auto* context = reinterpret_cast<AVCodecContext*>(0x1234);
    make(kx_pix_fmt_yuvj420p);
    ASSERT_TRUE(renderer_->init_vrender(window_->handle(), 320, 240, context));
    make(kx_pix_fmt_dxva2_vld);
    ASSERT_TRUE(renderer_->init_vrender(window_->handle(), 320, 240, context));
    EXPECT_EQ(journal({"init_render"}),
              (strings{"1 init_render video 640x480 target 640x480 window set ctx "
                       "0000000000000000",
                       "2 init_render video 320x240 target 640x480 window set ctx "
                       "0000000000001234"}));
}

TEST_F(front_test, init_without_any_usable_interface_fails_with_its_line)
{
    window_ = std::make_unique<test_window>(640, 480);
    seam_.script().caps = 0;
    make(kx_pix_fmt_yuv420p);
    EXPECT_FALSE(renderer_->init_vrender(window_->handle(), 320, 240, nullptr));
    EXPECT_EQ(logs_.count(1, "init_vrender erro of render_mng_ null!\n"), 1);
    EXPECT_EQ(seam_.backends_made(), 0);
}

TEST_F(front_test, a_second_init_without_interfaces_keeps_the_backend)
{
    make_ready(kx_pix_fmt_yuv420p);
    seam_.script().caps = 0;
    EXPECT_TRUE(renderer_->init_vrender(window_->handle(), 320, 240, nullptr));
    EXPECT_EQ(seam_.backends_made(), 1);
}

TEST_F(front_test, window_sides_up_to_8192_are_accepted)
{
    window_ = std::make_unique<test_window>(8192, 8192);
    make(kx_pix_fmt_yuv420p);
    EXPECT_TRUE(renderer_->init_vrender(window_->handle(), 320, 240, nullptr));

    window_->resize(8193, 100);
    make(kx_pix_fmt_yuv420p);
    EXPECT_FALSE(renderer_->init_vrender(window_->handle(), 320, 240, nullptr));
    window_->resize(100, 8193);
    EXPECT_FALSE(renderer_->init_vrender(window_->handle(), 320, 240, nullptr));
    window_->resize(0, 100);
    EXPECT_FALSE(renderer_->init_vrender(window_->handle(), 320, 240, nullptr));
    EXPECT_FALSE(renderer_->init_vrender(nullptr, 320, 240, nullptr));
}

TEST_F(front_test, frames_are_dropped_while_the_window_is_out_of_limits)
{
    make_ready(kx_pix_fmt_yuv420p);
    test_picture picture(320, 240, 16, 128, 128);
    window_->resize(8193, 480);
    renderer_->render_frame(&picture.frame, 320, 240);
    EXPECT_TRUE(journal({"draw_image", "init_render"}).empty());
    window_->resize(640, 480);
    renderer_->render_frame(&picture.frame, 320, 240);
    EXPECT_EQ(journal({"draw_image"}).size(), 1u);
}

TEST_F(front_test, one_frame_runs_the_fixed_sequence)
{
    make_ready(kx_pix_fmt_yuv420p);
    test_picture picture(320, 240, 16, 128, 128);
    renderer_->render_frame(&picture.frame, 320, 240);
    EXPECT_EQ(journal(), (strings{"1 check_device 0", "1 set_color_space 0",
                                  "1 update_image src null", "1 begin_render 1 FF000000",
                                  "1 draw_image strides 640,320,320 dst null src null",
                                  "1 draw_overlays groups 0 ref 320x240 area null", "1 present"}));
    EXPECT_TRUE(logs_.lines().empty());
}

TEST_F(front_test, software_frames_are_scaled_into_the_front_buffer)
{
    make_ready(kx_pix_fmt_yuv420p, 640, 480);
    test_picture picture(320, 240, 100, 60, 200, 16);
    renderer_->render_frame(&picture.frame, 320, 240);
    const drawn_picture drawn = seam_.last_drawn();
    ASSERT_NE(drawn.planes[0], picture.y_plane.data());
    EXPECT_EQ(drawn.planes[1] - drawn.planes[0], 640 * 480);
    EXPECT_EQ(drawn.planes[2] - drawn.planes[0], 5 * (640 * 480 / 4));
    EXPECT_EQ(drawn.planes[0][640 * 240 + 320], 100);
    EXPECT_EQ(drawn.planes[1][320 * 120 + 160], 60);
    EXPECT_EQ(drawn.planes[2][320 * 239 + 319], 200);
}

TEST_F(front_test, directdraw_scales_to_multiples_of_four_but_hands_on_the_window_size)
{
    seam_.script().caps = caps_ddraw;
    make_ready(kx_pix_fmt_yuv420p, 641, 479);
    test_picture picture(320, 240, 16, 128, 128);
    renderer_->render_frame(&picture.frame, 320, 240);
    EXPECT_EQ(journal({"draw_image", "init_render"}),
              (strings{"1 draw_image strides 644,322,322 dst null src null"}));
    const drawn_picture drawn = seam_.last_drawn();
    EXPECT_EQ(drawn.planes[1] - drawn.planes[0], 644 * 480);
    EXPECT_EQ(drawn.planes[2] - drawn.planes[0], 5 * (644 * 480 / 4));
}

TEST_F(front_test, the_scale_buffer_is_reused_when_the_window_shrinks)
{
    make_ready(kx_pix_fmt_yuv420p, 800, 600);
    test_picture picture(320, 240, 16, 128, 128);
    renderer_->render_frame(&picture.frame, 320, 240);
    uint8_t* const first = seam_.last_drawn().planes[0];
    window_->resize(400, 300);
    renderer_->render_frame(&picture.frame, 320, 240);
    EXPECT_EQ(seam_.last_drawn().planes[0], first);
}

TEST_F(front_test, a_failed_scale_hands_on_the_frame_itself)
{
    make_ready(kx_pix_fmt_yuv420p, 640, 480);
    test_picture picture(320, 240, 16, 128, 128);
    picture.frame.data[1] = nullptr; // libyuv refuses a missing plane
    renderer_->render_frame(&picture.frame, 320, 240);
    EXPECT_EQ(seam_.last_drawn().planes[0], picture.y_plane.data());
    EXPECT_EQ(journal({"init_render"}),
              (strings{"2 init_render video 320x240 target 640x480 window set ctx "
                       "0000000000000000"}));
    EXPECT_EQ(logs_.count(3, "video size(320*240) changed, update window texture!\n"), 1);
}

TEST_F(front_test, a_window_resize_rebuilds_for_the_window_and_then_for_the_picture)
{
    make_ready(kx_pix_fmt_yuv420p, 640, 480);
    test_picture picture(320, 240, 16, 128, 128);
    window_->resize(800, 600);
    renderer_->render_frame(&picture.frame, 320, 240);
    EXPECT_EQ(journal({"construct", "destroy", "init_render", "set_image_adjust", "draw_image"}),
              (strings{"2 construct kind 1", "1 destroy",
                       "2 init_render video 640x480 target 800x600 window set ctx "
                       "0000000000000000",
                       "2 set_image_adjust 50,50,50,50", "3 construct kind 1", "2 destroy",
                       "3 init_render video 800x600 target 800x600 window set ctx "
                       "0000000000000000",
                       "3 set_image_adjust 50,50,50,50",
                       "3 draw_image strides 800,400,400 dst null src null"}));
    EXPECT_EQ(logs_.texts(), (strings{"window size(800*600) changed ,update window texture!\n",
                                      "video size(800*600) changed, update window texture!\n"}));
    for (const log_line& line : logs_.lines()) {
        EXPECT_EQ(line.level, 3);
        EXPECT_EQ(line.source, front_source);
        EXPECT_EQ(line.thread_id, static_cast<int>(GetCurrentThreadId()));
    }

    renderer_->render_frame(&picture.frame, 320, 240);
    EXPECT_EQ(seam_.backends_made(), 3);
}

TEST_F(front_test, a_failed_rebuild_drops_the_frame_and_retries_with_the_next)
{
    make_ready(kx_pix_fmt_yuv420p, 640, 480);
    test_picture picture(320, 240, 16, 128, 128);
    window_->resize(800, 600);
    seam_.script().init_results = {false};
    renderer_->render_frame(&picture.frame, 320, 240);
    EXPECT_EQ(logs_.texts(), (strings{"window size changed, update window texture error!\n"}));
    EXPECT_EQ(logs_.lines()[0].level, 1);
    EXPECT_TRUE(journal({"draw_image"}).empty());

    logs_.clear();
    renderer_->render_frame(&picture.frame, 320, 240);
    EXPECT_EQ(logs_.texts(), (strings{"window size(800*600) changed ,update window texture!\n",
                                      "video size(800*600) changed, update window texture!\n"}));
    EXPECT_EQ(journal({"draw_image"}).size(), 1u);
}

TEST_F(front_test, video_size_and_decode_type_failures_have_their_own_lines)
{
    make_ready(kx_pix_fmt_dxva2_vld, 640, 480, 320, 240);
    test_picture picture(320, 240, 16, 128, 128, 0, 53);
    seam_.script().init_results = {false};
    renderer_->render_frame(&picture.frame, 640, 360);
    EXPECT_EQ(logs_.texts(), (strings{"video size changed, update window texture error!\n"}));

    logs_.clear();
    seam_.script().init_results = {true, false};
    picture.frame.format = 0;
    renderer_->render_frame(&picture.frame, 640, 360);
    EXPECT_EQ(logs_.texts(), (strings{"video size(640*480) changed, update window texture!\n",
                                      "decode type changed, update window texture error!\n"}));
}

TEST_F(front_test, a_frame_of_another_software_format_rebuilds_on_every_frame)
{
    make_ready(kx_pix_fmt_yuv420p, 640, 480);
    test_picture picture(320, 240, 16, 128, 128, 0, 12);
    renderer_->render_frame(&picture.frame, 320, 240);
    renderer_->render_frame(&picture.frame, 320, 240);
    EXPECT_EQ(logs_.count(3, "decode type(12) changed, update window texture!\n"), 2);
    EXPECT_EQ(journal({"draw_image"}).size(), 2u);
}

TEST_F(front_test, unknown_formats_and_null_frames_are_dropped_silently)
{
    make_ready(kx_pix_fmt_yuv420p);
    test_picture picture(320, 240, 16, 128, 128, 0, 23);
    renderer_->render_frame(&picture.frame, 320, 240);
    renderer_->render_frame(nullptr, 320, 240);
    EXPECT_TRUE(journal().empty());
    EXPECT_TRUE(logs_.lines().empty());
}

TEST_F(front_test, pictures_without_area_are_refused_with_a_line)
{
    make_ready(kx_pix_fmt_yuv420p);
    test_picture picture(320, 240, 16, 128, 128);
    renderer_->render_frame(&picture.frame, 0, 240);
    renderer_->render_frame(&picture.frame, 320, -240);
    EXPECT_TRUE(journal().empty());
    EXPECT_EQ(logs_.count(1, "invalid picture size(0*240), frame dropped!\n"), 1);
    EXPECT_EQ(logs_.count(1, "invalid picture size(320*-240), frame dropped!\n"), 1);
}

TEST_F(front_test, frames_before_init_are_ignored)
{
    make(kx_pix_fmt_yuv420p);
    test_picture picture(320, 240, 16, 128, 128);
    renderer_->render_frame(&picture.frame, 320, 240);
    EXPECT_EQ(seam_.backends_made(), 0);
}

TEST_F(front_test, colour_spaces_map_to_colour_classes)
{
    make_ready(kx_pix_fmt_yuv420p);
    test_picture picture(320, 240, 16, 128, 128);
    for (int colorspace : {1, 9, 10, 5, 6, 2, 0, 99}) {
        picture.frame.colorspace = colorspace;
        renderer_->render_frame(&picture.frame, 320, 240);
    }
    EXPECT_EQ(journal({"set_color_space"}),
              (strings{"1 set_color_space 1", "1 set_color_space 2", "1 set_color_space 2",
                       "1 set_color_space 0", "1 set_color_space 0", "1 set_color_space 0",
                       "1 set_color_space 0", "1 set_color_space 0"}));
}

TEST_F(front_test, direct3d11_frames_carry_the_marker_and_their_frames_context)
{
    auto* context = reinterpret_cast<AVCodecContext*>(0x5678);
    make_ready(kx_pix_fmt_d3d11, 640, 480, 1920, 1080, context);
    AVFrame frame = {};
    frame.format = 174;
    frame.data[0] = reinterpret_cast<uint8_t*>(0x1000);
    frame.data[1] = reinterpret_cast<uint8_t*>(3);
    frame.hw_frames_ctx = reinterpret_cast<AVBufferRef*>(0x2000);
    frame.opaque = reinterpret_cast<void*>(0x9abc);
    renderer_->render_frame(&frame, 1280, 720);
    EXPECT_EQ(reinterpret_cast<intptr_t>(frame.data[2]), 174);
    EXPECT_EQ(frame.data[3], reinterpret_cast<uint8_t*>(0x2000));
    const drawn_picture drawn = seam_.last_drawn();
    EXPECT_EQ(drawn.planes[0], frame.data[0]);
    EXPECT_EQ(drawn.planes[3], frame.data[3]);
    // The video size changed: the rebuild takes the context from the frame.
    EXPECT_EQ(journal({"init_render"}),
              (strings{"2 init_render video 1280x720 target 640x480 window set ctx "
                       "0000000000009abc"}));
}

TEST_F(front_test, device_states_drop_or_rebuild)
{
    make_ready(kx_pix_fmt_yuv420p);
    test_picture picture(320, 240, 16, 128, 128);
    seam_.script().check_device_results = {-1, -3, -2};
    renderer_->render_frame(&picture.frame, 320, 240);
    renderer_->render_frame(&picture.frame, 320, 240);
    EXPECT_TRUE(journal({"draw_image"}).empty());

    renderer_->render_frame(&picture.frame, 320, 240);
    EXPECT_EQ(logs_.texts(),
              (strings{"handle lost and reset render object uuuuuuuuuuuuuuuuuuuuuuuuuuu\n"}));
    EXPECT_EQ(logs_.lines()[0].level, 3);
    EXPECT_EQ(journal({"check_device", "init_render", "draw_image", "present"}),
              (strings{"1 check_device -1", "1 check_device -3", "1 check_device -2",
                       "2 init_render video 640x480 target 640x480 window set ctx "
                       "0000000000000000",
                       "2 draw_image strides 640,320,320 dst null src null", "2 present"}));
}

TEST_F(front_test, image_adjustment_needs_a_backend_and_survives_rebuilds)
{
    window_ = std::make_unique<test_window>(640, 480);
    make(kx_pix_fmt_yuv420p);
    const int early[4] = {10, 20, 30, 40};
    EXPECT_FALSE(renderer_->set_image_adjust(early));
    EXPECT_FALSE(renderer_->set_image_adjust(nullptr));
    ASSERT_TRUE(renderer_->init_vrender(window_->handle(), 320, 240, nullptr));
    EXPECT_FALSE(renderer_->set_image_adjust(nullptr));

    seam_.script().check_device_results = {-2};
    test_picture picture(320, 240, 16, 128, 128);
    renderer_->render_frame(&picture.frame, 320, 240);
    const int later[4] = {0, 100, 75, 25};
    EXPECT_TRUE(renderer_->set_image_adjust(later));
    seam_.script().check_device_results = {-2};
    renderer_->render_frame(&picture.frame, 320, 240);
    EXPECT_EQ(journal({"set_image_adjust"}),
              (strings{"2 set_image_adjust 50,50,50,50", "2 set_image_adjust 0,100,75,25",
                       "3 set_image_adjust 0,100,75,25"}));
}

namespace {
struct callback_record {
    int calls = 0;
    int value = 0;
    void* pointer = nullptr;
};

void count_callback(void* context, int value, void* pointer)
{
    auto* record = static_cast<callback_record*>(pointer);
    record->calls += context != nullptr;
    record->value = value;
}
} // namespace

TEST_F(front_test, the_draw_callback_is_kept_across_rebuilds_and_can_be_removed)
{
    window_ = std::make_unique<test_window>(640, 480);
    make(kx_pix_fmt_yuv420p);
    callback_record early;
    renderer_->set_draw_callback(count_callback, 1, &early); // no backend yet: ignored
    ASSERT_TRUE(renderer_->init_vrender(window_->handle(), 320, 240, nullptr));
    test_picture picture(320, 240, 16, 128, 128);
    renderer_->render_frame(&picture.frame, 320, 240);
    EXPECT_EQ(early.calls, 0);

    callback_record record;
    renderer_->set_draw_callback(count_callback, 7, &record);
    renderer_->render_frame(&picture.frame, 320, 240);
    seam_.script().check_device_results = {-2};
    renderer_->render_frame(&picture.frame, 320, 240);
    EXPECT_EQ(record.calls, 2);
    EXPECT_EQ(record.value, 7);
    EXPECT_EQ(seam_.backends_made(), 2);

    renderer_->set_draw_callback(nullptr, 0, nullptr);
    renderer_->render_frame(&picture.frame, 320, 240);
    EXPECT_EQ(record.calls, 2);
}

TEST_F(front_test, destroying_the_renderer_destroys_its_backend)
{
    make_ready(kx_pix_fmt_yuv420p);
    EXPECT_EQ(seam_.backends_alive(), 1);
    destroy();
    EXPECT_EQ(seam_.backends_alive(), 0);
    kx_vidrender::destroy_vrender(nullptr);
}

TEST_F(front_test, render_buffer_wraps_a_contiguous_picture)
{
    make_ready(kx_pix_fmt_yuv420p);
    display_region region = {1, 0, 0, 10000, 0, 10000, 0, 0}; // no scaling: planes as given
    renderer_->set_display_region(&region);
    std::vector<uint8_t> buffer(100 * 60 * 3 / 2, 16);
    renderer_->render_buffer(0, buffer.data(), 10, 100, 60); // a short length is not refused
    const drawn_picture drawn = seam_.last_drawn();
    EXPECT_EQ(drawn.planes[0], buffer.data());
    EXPECT_EQ(drawn.planes[1], buffer.data() + 6000);
    EXPECT_EQ(drawn.planes[2], buffer.data() + 7500);
    EXPECT_EQ(journal({"set_color_space", "draw_image"}),
              (strings{"2 set_color_space 0",
                       "2 draw_image strides 100,50,50 dst 0,0,640,480 src 0,0,100,60"}));
}

TEST_F(front_test, render_buffer_refuses_what_it_cannot_draw)
{
    make_ready(kx_pix_fmt_yuv420p);
    std::vector<uint8_t> buffer(100 * 60 * 3 / 2, 16);
    renderer_->render_buffer(0, nullptr, 9000, 100, 60);
    renderer_->render_buffer(0, buffer.data(), 0, 100, 60);
    renderer_->render_buffer(0, buffer.data(), 9000, 0, 60);
    renderer_->render_buffer(0, buffer.data(), 9000, 100, 0);
    renderer_->render_buffer(23, buffer.data(), 9000, 100, 60);
    renderer_->render_buffer(53, buffer.data(), 9000, 100, 60);
    renderer_->render_buffer(174, buffer.data(), 9000, 100, 60);
    EXPECT_TRUE(journal().empty());
    renderer_->render_buffer(12, buffer.data(), 9000, 100, 60);
    EXPECT_EQ(journal({"draw_image"}).size(), 1u);
}
