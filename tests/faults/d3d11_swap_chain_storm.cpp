// The swap chain of the Direct3D 11 backend failing over and over, through the public
// interface: Present answers failures and status codes for stretches of frames, and the
// swap chain's GetDesc (the drawing's target size) and GetBuffer (the copy of the picture into
// the window) fail now and then. The backend has no recovery of its own: it never resizes or
// rebuilds its swap chain and logs nothing; a failed frame leaves the picture before it, and
// the window shows the new one as soon as the swap chain works again. Every frame is checked
// against that, and the decoder's device keeps its reference counts.
#include <gtest/gtest.h>

#include <cstdio>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "d3d11_storm_frames.h"
#include "kx_vidrender.h"
#include "test_window.h"

namespace {

const HRESULT present_failures[] = {
    DXGI_STATUS_OCCLUDED,   DXGI_ERROR_DEVICE_REMOVED,        DXGI_ERROR_DEVICE_RESET,
    DXGI_ERROR_DEVICE_HUNG, DXGI_ERROR_DRIVER_INTERNAL_ERROR, E_OUTOFMEMORY};

class d3d11_swap_chain_storm : public ::testing::Test {
  protected:
    void SetUp() override
    {
        ASSERT_TRUE(decoder_.ready());
        ASSERT_TRUE(d3d11_.ready());
    }

    fake_d3d11_decoder decoder_{storm_video_w, storm_video_h, 3};
    d3d11_interception d3d11_;
    swap_chain_catcher catcher_;
    log_capture logs_;
    test_window window_{160, 96};
};

} // namespace

TEST_F(d3d11_swap_chain_storm, failed_presents_lose_only_their_frames)
{
    const ULONG device_refs = decoder_.device_refcount();
    const ULONG real_device_refs = decoder_.real_device_refcount();
    const ULONG context_refs = decoder_.context_refcount();
    const int frames = settings().long_run ? 5000 : 120;
    std::mt19937 random(settings().seed);
    auto chance = [&random](int percent) { return static_cast<int>(random() % 100) < percent; };
    long drawn = 0;
    long present_faults = 0;
    long call_faults = 0; // tallied by the plan
    {
        storm_frames source(decoder_, false);
        kx_vidrender* renderer = kx_vidrender::create_vrender(kx_pix_fmt_d3d11);
        ASSERT_TRUE(renderer->init_vrender(window_.handle(), storm_video_w, storm_video_h,
                                           decoder_.codec_context()));
        source.fill_chroma();
        fault_dxgi_swap_chain* swap_chain = catcher_.last();
        ASSERT_NE(swap_chain, nullptr);

        int failing_presents = 0;
        HRESULT failure = S_OK;
        int offscreen_luma = -1; // black until a frame is drawn
        for (int frame = 0; frame < frames; ++frame) {
            if (failing_presents == 0 && chance(12)) {
                failing_presents = 1 + static_cast<int>(random() % 8);
                failure = present_failures[random() % std::size(present_failures)];
            }
            swap_chain->present_result = failing_presents > 0 ? failure : S_OK;
            const bool no_size = chance(6);
            const bool no_buffer = chance(6);
            present_faults += failing_presents > 0;
            call_faults += no_size + no_buffer;

            AVFrame next = source.next();
            const int calls_before = swap_chain->present_calls;
            logs_.clear();
            {
                armed_plan armed([no_size, no_buffer](int call) {
                    return (call == 1 && no_size) || (call == 2 && no_buffer);
                });
                renderer->render_frame(&next, storm_video_w, storm_video_h);
                ASSERT_EQ(plan().trace(), (std::vector<std::string>{d3d11_calls::get_desc,
                                                                    d3d11_calls::get_buffer}))
                    << "frame " << frame;
            }
            if (!no_size)
                offscreen_luma = source.luma();
            const std::string where = "frame " + std::to_string(frame);
            ASSERT_TRUE(logs_.texts().empty()) << where << ": " << logs_.texts()[0];
            ASSERT_EQ(swap_chain->present_calls, calls_before + 1) << where;
            ASSERT_EQ(catcher_.caught().size(), 1u) << where << ": the swap chain was made again";
            ASSERT_TRUE(storm_frames::shows(catcher_, no_buffer ? -1 : offscreen_luma))
                << where << (no_size ? ", no size" : "") << (no_buffer ? ", no buffer" : "");
            drawn += failing_presents == 0 && !no_size && !no_buffer;
            if (failing_presents > 0)
                --failing_presents;
        }

        // The swap chain works again: the next frame is shown.
        swap_chain->present_result = S_OK;
        AVFrame last = source.next();
        renderer->render_frame(&last, storm_video_w, storm_video_h);
        EXPECT_TRUE(source.shown(catcher_));
        kx_vidrender::destroy_vrender(renderer);
        EXPECT_EQ(swap_chain->refcount(), 1u); // the catcher's own
        catcher_.release_caught();
    }
    EXPECT_EQ(d3d11_interception::wrappers_alive(), 0);
    decoder_.device()->release_standins();
    EXPECT_EQ(decoder_.device_refcount(), device_refs);
    EXPECT_EQ(decoder_.real_device_refcount(), real_device_refs);
    EXPECT_EQ(decoder_.context_refcount(), context_refs);

    EXPECT_GT(drawn, frames / 3);
    tally().faults_injected += present_faults;
    tally().frames_drawn += drawn;
    ++tally().runs;
    std::printf("swap-chain storm: %d frames, %ld drawn, %ld failed presents, %ld failed "
                "GetDesc or GetBuffer\n",
                frames, drawn, present_faults, call_faults);
}
