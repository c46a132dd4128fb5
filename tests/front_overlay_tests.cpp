// The overlay list: copies, the overlay query, and the list replaced while frames draw.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "front_fixture.h"

namespace {

overlay_group group_with_points(int id, std::vector<overlay_point> points)
{
    overlay_group group;
    group.id = id;
    overlay_entry entry;
    entry.kind = overlay_kind_text;
    entry.points = std::move(points);
    group.entries.push_back(entry);
    return group;
}

} // namespace

TEST_F(front_test, get_overlay_rect_needs_a_backend)
{
    make(kx_pix_fmt_yuv420p);
    renderer_->set_overlay_list({group_with_points(1, {{0, 0, 0, 0}, {5000, 5000, 0, 0}})});
    overlay_rect out = {-1, -1, -1, -1, -1, -1};
    EXPECT_FALSE(renderer_->get_overlay_rect(1, &out));
    EXPECT_EQ(out.left, -1);
    EXPECT_EQ(out.window_width, -1);
}

TEST_F(front_test, get_overlay_rect_maps_the_first_two_points_to_the_window)
{
    make_ready(kx_pix_fmt_yuv420p, 800, 600);
    std::list<overlay_group> groups;
    groups.push_back(overlay_group{}); // id 5 but no entries: passed over
    groups.back().id = 5;
    groups.push_back(group_with_points(5, {{0, 0, 0, 0}, {5000, 5000, 0, 0}}));
    groups.push_back(group_with_points(5, {{100, 100, 0, 0}, {200, 200, 0, 0}}));
    groups.push_back(group_with_points(6, {{100, 100, 1000, 100}, {500, 50, 1000, 100}}));
    renderer_->set_overlay_list(groups);

    overlay_rect out = {};
    ASSERT_TRUE(renderer_->get_overlay_rect(5, &out));
    EXPECT_EQ(out.left, 0);
    EXPECT_EQ(out.right, 400);
    EXPECT_EQ(out.top, 0);
    EXPECT_EQ(out.bottom, 300);
    EXPECT_EQ(out.window_width, 800);
    EXPECT_EQ(out.window_height, 600);

    ASSERT_TRUE(renderer_->get_overlay_rect(6, &out));
    EXPECT_EQ(out.left, 80);
    EXPECT_EQ(out.right, 400);
    EXPECT_EQ(out.top, 600);
    EXPECT_EQ(out.bottom, 300);

    // The query lays out a one-group copy.
    EXPECT_EQ(journal({"draw_overlays"}),
              (std::vector<std::string>{"1 draw_overlays groups 1 ref 0x0 area null",
                                        "1 draw_overlays groups 1 ref 0x0 area null"}));
}

TEST_F(front_test, get_overlay_rect_refuses_missing_groups_and_single_points)
{
    make_ready(kx_pix_fmt_yuv420p, 800, 600);
    renderer_->set_overlay_list({group_with_points(3, {{10, 10, 0, 0}})});
    overlay_rect out = {};
    EXPECT_FALSE(renderer_->get_overlay_rect(3, &out));
    EXPECT_EQ(out.window_width, 800); // the window size is written before the search
    EXPECT_FALSE(renderer_->get_overlay_rect(4, &out));
    EXPECT_FALSE(renderer_->get_overlay_rect(3, nullptr));
    EXPECT_EQ(logs_.count(1, "get_overlay_rect out is nullptr!\n"), 1);
}

TEST_F(front_test, get_overlay_rect_reads_the_corner_the_backend_lays_out)
{
    make_ready(kx_pix_fmt_yuv420p, 1000, 500);
    seam_.script().on_draw_overlays = [](std::list<overlay_group>* groups) {
        for (overlay_group& group : *groups)
            for (overlay_entry& entry : group.entries)
                if (entry.points.size() == 1)
                    entry.points.push_back({2000, 4000, 10000, 10000});
    };
    renderer_->set_overlay_list({group_with_points(9, {{1000, 1000, 10000, 10000}})});
    overlay_rect out = {};
    ASSERT_TRUE(renderer_->get_overlay_rect(9, &out));
    EXPECT_EQ(out.left, 100);
    EXPECT_EQ(out.right, 200);
    EXPECT_EQ(out.top, 50);
    EXPECT_EQ(out.bottom, 200);
}

TEST_F(front_test, the_overlay_list_is_copied_and_reaches_every_frame)
{
    make_ready(kx_pix_fmt_yuv420p);
    std::list<overlay_group> groups = {group_with_points(1, {{1, 2, 3, 4}})};
    renderer_->set_overlay_list(groups);
    groups.clear(); // the caller's list is its own
    std::vector<uint32_t> seen;
    seam_.script().on_draw_overlays = [&seen](std::list<overlay_group>* list) {
        seen.push_back(static_cast<uint32_t>(list->size()));
        if (!list->empty())
            seen.push_back(list->front().entries[0].points[0].y);
    };
    test_picture picture(320, 240, 16, 128, 128);
    renderer_->render_frame(&picture.frame, 320, 240);
    EXPECT_EQ(seen, (std::vector<uint32_t>{1, 2}));
}

TEST_F(front_test, the_list_can_be_replaced_from_another_thread_while_frames_draw)
{
    make_ready(kx_pix_fmt_yuv420p, 320, 240);
    std::atomic<int> torn{0};
    std::atomic<int> drawn{0};
    seam_.script().on_draw_overlays = [&](std::list<overlay_group>* list) {
        // Every list the writer makes has groups whose entries all carry the group's id.
        for (const overlay_group& group : *list)
            for (const overlay_entry& entry : group.entries)
                torn += entry.font_size != static_cast<uint32_t>(group.id) ||
                        entry.points.size() != static_cast<size_t>(group.id % 7);
        ++drawn;
    };
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        for (int round = 0; !stop; ++round) {
            std::list<overlay_group> groups;
            for (int g = 0; g < 1 + round % 5; ++g) {
                overlay_group group;
                group.id = round + g;
                group.entries.resize(static_cast<size_t>(1 + g));
                for (overlay_entry& entry : group.entries) {
                    entry.font_size = static_cast<uint32_t>(group.id);
                    entry.points.resize(static_cast<size_t>(group.id % 7));
                    entry.text = std::string(static_cast<size_t>(round % 50), 'x');
                }
                groups.push_back(group);
            }
            renderer_->set_overlay_list(groups);
            overlay_rect out;
            renderer_->get_overlay_rect(round, &out);
        }
    });
    test_picture picture(320, 240, 16, 128, 128);
    for (int frame = 0; frame < 300; ++frame)
        renderer_->render_frame(&picture.frame, 320, 240);
    stop = true;
    writer.join();
    EXPECT_EQ(torn.load(), 0);
    EXPECT_GE(drawn.load(), 300);
}
