// The render front against recording backends: the sequence of one frame, rebuilds and their
// retry, device states, the display region, and the overlay list replaced from another thread
// while frames draw. (The fuzz checks the lines of the refusals.)
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include <memory>

#include "kx_vidrender.h"
#include "log_capture.h"
#include "recording_backend.h"
#include "test_picture.h"
#include "test_window.h"

namespace {

using strings = std::vector<std::string>;
constexpr char front_source[] = "..\\..\\..\\sources\\video_render\\kx_vrender_impl";

// A renderer made through the public factory with the recording backends behind it, ready on
// a real window, its journal and log emptied.
class front_test : public ::testing::Test {
  protected:
    void TearDown() override { kx_vidrender::destroy_vrender(renderer_); }
    void make_ready(kx_pixel_fmt format, int window_w = 640, int window_h = 480)
    {
        window_ = std::make_unique<test_window>(window_w, window_h);
        renderer_ = kx_vidrender::create_vrender(format);
        ASSERT_TRUE(renderer_->init_vrender(window_->handle(), 320, 240, nullptr));
        seam_.clear_calls();
        logs_.clear();
    }
    strings journal(const strings& ops = {}) const { return seam_.journal(ops); }
    recording_seam seam_;
    log_capture logs_;
    test_picture picture_{320, 240, 16, 128, 128};
    std::unique_ptr<test_window> window_;
    kx_vidrender* renderer_ = nullptr;
};

} // namespace

TEST_F(front_test, one_frame_runs_the_fixed_sequence)
{
    make_ready(kx_pix_fmt_yuv420p);
    renderer_->render_frame(&picture_.frame, 320, 240);
    EXPECT_EQ(journal(), (strings{"1 check_device 0", "1 set_color_space 0",
                                  "1 update_image src null", "1 begin_render 1 FF000000",
                                  "1 draw_image strides 640,320,320 dst null src null",
                                  "1 draw_overlays groups 0 ref 320x240 area null", "1 present"}));
    EXPECT_TRUE(logs_.lines().empty());
}

TEST_F(front_test, a_window_resize_rebuilds_for_the_window_then_for_the_picture_and_retries)
{
    make_ready(kx_pix_fmt_yuv420p, 640, 480);
    window_->resize(800, 600);
    seam_.script().init_results = {false}; // the frame is dropped; the next one tries again
    renderer_->render_frame(&picture_.frame, 320, 240);
    EXPECT_EQ(logs_.count(1, "window size changed, update window texture error!\n"), 1);
    EXPECT_TRUE(journal({"draw_image"}).empty());
    seam_.clear_calls();
    logs_.clear();
    renderer_->render_frame(&picture_.frame, 320, 240);
    EXPECT_EQ(journal({"construct", "destroy", "init_render", "set_image_adjust", "draw_image"}),
              (strings{"3 construct kind 1", "2 destroy",
                       "3 init_render video 640x480 target 800x600 window set ctx "
                       "0000000000000000",
                       "3 set_image_adjust 50,50,50,50", "4 construct kind 1", "3 destroy",
                       "4 init_render video 800x600 target 800x600 window set ctx "
                       "0000000000000000",
                       "4 set_image_adjust 50,50,50,50",
                       "4 draw_image strides 800,400,400 dst null src null"}));
    EXPECT_EQ(logs_.texts(), (strings{"window size(800*600) changed ,update window texture!\n",
                                      "video size(800*600) changed, update window texture!\n"}));
    for (const log_line& line : logs_.lines()) {
        EXPECT_EQ(line.level, 3);
        EXPECT_EQ(line.source, front_source);
        EXPECT_EQ(line.thread_id, static_cast<int>(GetCurrentThreadId()));
    }
}

TEST_F(front_test, device_states_drop_or_rebuild)
{
    make_ready(kx_pix_fmt_yuv420p);
    seam_.script().check_device_results = {-1, -3, -2};
    for (int frame = 0; frame < 3; ++frame)
        renderer_->render_frame(&picture_.frame, 320, 240);
    EXPECT_EQ(logs_.count(3, "handle lost and reset render object uuuuuuuuuuuuuuuuuuuuuuuuuuu\n"),
              1);
    EXPECT_EQ(journal({"check_device", "init_render", "draw_image", "present"}),
              (strings{"1 check_device -1", "1 check_device -3", "1 check_device -2",
                       "2 init_render video 640x480 target 640x480 window set ctx "
                       "0000000000000000",
                       "2 draw_image strides 640,320,320 dst null src null", "2 present"}));
}

TEST_F(front_test, a_region_shows_its_part_enlarged_to_the_window)
{
    make_ready(kx_pix_fmt_yuv420p, 800, 600);
    display_region region = {1, 0, 2500, 7500, 1000, 6000, 0, 0};
    renderer_->set_display_region(&region);
    test_picture picture(640, 480, 16, 128, 128);
    renderer_->render_frame(&picture.frame, 640, 480);
    // Not scaled: the frame's planes go to the backend, rebuilt for the picture size.
    EXPECT_EQ(seam_.last_luma(), picture.y_plane.data());
    EXPECT_EQ(journal({"update_image", "draw_image", "draw_overlays"}),
              (strings{"2 update_image src 160,48,480,288",
                       "2 draw_image strides 640,320,320 dst 0,0,800,600 src 160,48,480,288",
                       "2 draw_overlays groups 0 ref 640x480 area 200,60,600,360"}));
}

TEST_F(front_test, the_list_can_be_replaced_from_another_thread_while_frames_draw)
{
    make_ready(kx_pix_fmt_yuv420p, 320, 240);
    std::atomic<int> torn{0};
    std::atomic<int> drawn{0};
    // The list the backend is drawing stays as it is until draw_overlays returns; every list
    // the writer makes has groups whose entries carry the group's id.
    seam_.script().on_draw_overlays = [&](std::list<overlay_group>* list) {
        const auto ids = [list] {
            std::vector<uint32_t> seen;
            for (const overlay_group& group : *list)
                for (const overlay_entry& entry : group.entries)
                    seen.insert(seen.end(), {uint32_t(group.id), entry.font_size});
            return seen;
        };
        const std::vector<uint32_t> before = ids();
        Sleep(1);
        torn += ids() != before;
        for (size_t i = 0; i < before.size(); i += 2)
            torn += before[i] != before[i + 1];
        ++drawn;
    };
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        for (int round = 0; !stop; ++round) {
            std::list<overlay_group> groups(size_t(1 + round % 5));
            int id = round;
            for (overlay_group& group : groups) {
                group.id = ++id;
                group.entries.resize(size_t(id % 3 + 1));
                for (overlay_entry& entry : group.entries)
                    entry.font_size = uint32_t(id);
            }
            renderer_->set_overlay_list(groups);
            overlay_rect out;
            renderer_->get_overlay_rect(round, &out);
        }
    });
    for (int frame = 0; frame < 100; ++frame)
        renderer_->render_frame(&picture_.frame, 320, 240);
    stop = true;
    writer.join();
    EXPECT_EQ(torn.load(), 0);
    EXPECT_GE(drawn.load(), 100);
}

// A lost device whose rebuilds fail, then a second init_vrender that fails with the sizes
// unchanged: frames are dropped, the rebuild is tried at once after the first failure and then
// no more often than the pacing allows, and drawing comes back by itself.
TEST_F(front_test, a_backend_that_cannot_draw_is_built_again_paced_until_it_draws)
{
    make_ready(kx_pix_fmt_yuv420p);
    const auto frames_until_drawn = [&](int most) { // 20 ms apart
        for (int frame = 0; frame < most; ++frame, Sleep(20)) {
            seam_.clear_calls();
            renderer_->render_frame(&picture_.frame, 320, 240);
            if (!journal({"draw_image"}).empty())
                return frame;
        }
        return -1;
    };
    seam_.script().check_device_results = {-2};
    seam_.script().init_results = {false, false, false, false};
    const ULONGLONG start = GetTickCount64();
    for (int frame = 0; frame < 40; ++frame)
        renderer_->render_frame(&picture_.frame, 320, 240);
    EXPECT_TRUE(journal({"draw_image"}).empty());
    EXPECT_LE(journal({"init_render"}).size(), 3 + (GetTickCount64() - start) / 250);
    EXPECT_GE(frames_until_drawn(60), 0);
    EXPECT_EQ(logs_.count(1, "backend rebuild keeps failing, frames dropped, retrying every "
                             "250 ms\n"),
              1);
    EXPECT_EQ(logs_.count(3, "backend rebuilt after 4 failed attempts, drawing again\n"), 1);
    seam_.script().init_results = {false};
    EXPECT_FALSE(renderer_->init_vrender(window_->handle(), 320, 240, nullptr));
    EXPECT_EQ(frames_until_drawn(1), 0);
}
