// Device loss after device loss on the Direct3D 9 backend, through the renderer's public
// interface: the present that finds the device lost, frames dropped while it stays lost, a
// new backend once the device can be reset (or drawing on the old one when it comes back by
// itself), the log lines of each step, and the references of every device as they were.
// Then the rebuild itself fails, at each of its creation calls in turn, and drawing must
// resume all the same. The decoder's borrowed device (DXVA2 frames) is the path this is
// about; the renderer's own device (software frames) gets the same treatment.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <random>
#include <set>

#include "d3d9_creation_faults.h"
#include "d3d9_creation_outcome.h"
#include "d3d9_fault_d3d9.h"
#include "d3d9_fault_device.h"
#include "d3d9_fault_imports.h"
#include "d3d9_storm.h"
#include "fake_dxva2_decoder.h"
#include "test_picture.h"

namespace {

constexpr int window_w = 320;
constexpr int window_h = 180;
const adjust4 storm_adjust = {60, 45, 70, 55};

const char lost_line[] = "device lost error occured!\n";
const char reset_line[] = "handle lost and reset render object uuuuuuuuuuuuuuuuuuuuuuuuuuu\n";

// One loss as the schedule plays it.
struct loss {
    int frames_before = 0;           // drawn normally first
    HRESULT harmless_present = S_OK; // a failing present that is no loss, or S_OK for none
    HRESULT lost_present = D3DERR_DEVICELOST;
    int frames_lost = 0;       // TestCooperativeLevel says D3DERR_DEVICELOST
    HRESULT recovery = D3D_OK; // then: D3D_OK (back by itself) or a code that needs a reset
    bool needs_rebuild() const { return recovery != D3D_OK; }
};

loss next_loss(std::mt19937& random)
{
    auto pick = [&random](int count) {
        return static_cast<int>(random() % static_cast<unsigned>(count));
    };
    const HRESULT harmless[] = {S_OK, S_OK, D3DERR_INVALIDCALL, S_PRESENT_OCCLUDED, E_FAIL};
    const HRESULT lost[] = {D3DERR_DEVICELOST, D3DERR_DRIVERINTERNALERROR};
    const HRESULT recovery[] = {D3DERR_DEVICENOTRESET, D3DERR_DEVICENOTRESET,
                                D3DERR_DRIVERINTERNALERROR, D3D_OK};
    loss next;
    next.frames_before = pick(3);
    next.harmless_present = harmless[pick(5)];
    next.lost_present = lost[pick(2)];
    next.frames_lost = pick(4);
    next.recovery = recovery[pick(4)];
    return next;
}

// The calls of the rebuild itself: up to the overlay renderer's sprite, its last one. The
// calls after it belong to drawing the first frame.
std::vector<creation_call> rebuild_calls(std::vector<creation_call> calls)
{
    for (size_t i = calls.size(); i > 0; --i)
        if (calls[i - 1].name == "D3DXCreateSprite") {
            calls.resize(i);
            break;
        }
    return calls;
}

// Whether the rebuild fails when its n-th call does (the device path changes only the lines).
bool fails_the_rebuild(std::vector<creation_call> calls, size_t n)
{
    calls.resize(n);
    calls.back().result = E_OUTOFMEMORY;
    return consequence_of(calls, device_path::own, call_origin::rebuild).fatal;
}

std::string cooperative_line(HRESULT result)
{
    return formatted("TestCooperativeLevel result:%x\n", static_cast<unsigned>(result));
}

// The storm itself; the two device paths differ in their frames, in where the device is and
// in what a rebuild leaves behind.
class loss_storm : public ::testing::Test {
  protected:
    virtual kx_pixel_fmt format() const = 0;
    virtual AVCodecContext* codec_context() = 0;
    virtual AVFrame frame(int n) = 0;
    virtual rgb8 colour(int n) const = 0;
    // The device the renderer draws with now.
    virtual fault_device* device() = 0;
    // Present calls over every device so far.
    virtual int presents() = 0;
    // Grows by one with every backend built.
    virtual int backends_built() = 0;
    // What the renderer holds once it draws steadily, written down and compared.
    virtual void note_holdings() = 0;
    virtual void expect_same_holdings() = 0;
    virtual int losses() const { return storm_options().losses; }

    // After the fixture's own set-up: the Direct3D and D3DX imports go through the plan.
    void SetUp() override
    {
        imports_ = std::make_unique<d3d9_import_faults>();
        ASSERT_TRUE(imports_->ok());
    }

    void TearDown() override
    {
        creation_plan().disarm();
        if (renderer_)
            kx_vidrender::destroy_vrender(renderer_);
        renderer_ = nullptr;
        imports_.reset();
    }

    void run_losses()
    {
        start();
        std::mt19937 random(storm_options().seed);
        for (int i = 0; i < losses() && !HasFailure(); ++i) {
            play(next_loss(random));
            if (HasFailure())
                ADD_FAILURE() << "at loss " << i << " of seed " << storm_options().seed;
        }
        finish();
    }

    // Each creation call of one rebuild fails in turn (in the short storm the first call of
    // each of `short_names`), the calls whose failure makes the rebuild fail or the others.
    void run_failed_rebuilds(device_path path, const std::set<std::string>& short_names, bool fatal)
    {
        start();
        lose_device();
        creation_plan().arm(0, S_OK);
        expect_drawn();
        creation_plan().disarm();
        ++storm_tally().rebuilds;
        const std::vector<creation_call> normal = rebuild_calls(creation_plan().journal());
        std::printf("a rebuild makes %zu creation calls: %s\n", normal.size(),
                    names_of(normal).c_str());
        for (size_t n = 1; n <= normal.size() && !HasFailure(); ++n)
            if (chosen_step(normal, n, short_names, call_origin::rebuild) &&
                fails_the_rebuild(normal, n) == fatal)
                fail_rebuild(static_cast<int>(n), normal[n - 1].name, path);
        finish();
    }

    std::unique_ptr<d3d9_import_faults> imports_;

  private:
    void start()
    {
        renderer_ = kx_vidrender::create_vrender(format());
        ASSERT_TRUE(renderer_->init_vrender(scene_.window(), window_w, window_h, codec_context()));
        scene_.dress(renderer_, storm_adjust);
        expect_drawn();
        expect_drawn(); // the fonts exist from the first frame on
        note_holdings();
    }

    void finish()
    {
        kx_vidrender::destroy_vrender(renderer_);
        renderer_ = nullptr;
    }

    void play(const loss& next)
    {
        logs_.clear();
        for (int i = 0; i < next.frames_before; ++i)
            expect_drawn();
        if (next.harmless_present != S_OK) {
            // Drawn; a present that fails without losing the device changes nothing.
            fail_next_present(next.harmless_present);
            expect_drawn();
        }
        fail_next_present(next.lost_present);
        expect_drawn(); // drawn, but the present finds the device lost
        storm_tally().failed_presents += 1 + (next.harmless_present != S_OK);

        fault_device* lost_device = device();
        for (int i = 0; i < next.frames_lost; ++i)
            lost_device->cooperative_level_results.push_back(D3DERR_DEVICELOST);
        lost_device->cooperative_level_results.push_back(next.recovery);
        storm_tally().failed_cooperative_tests += next.frames_lost + next.needs_rebuild();
        for (int i = 0; i < next.frames_lost; ++i)
            expect_dropped();
        const int built = backends_built();
        expect_drawn();
        EXPECT_TRUE(lost_device->cooperative_level_results.empty());
        EXPECT_EQ(backends_built() - built, next.needs_rebuild() ? 1 : 0);
        storm_tally().rebuilds += backends_built() - built;

        expect_lines(next);
        expect_drawn();
        expect_same_holdings();
    }

    // A frame whose present finds the device lost; the next one finds it ready to be reset.
    void lose_device()
    {
        fail_next_present(D3DERR_DEVICELOST);
        expect_drawn();
        device()->cooperative_level_results.push_back(D3DERR_DEVICENOTRESET);
        storm_tally().failed_presents += 1;
        storm_tally().failed_cooperative_tests += 1;
    }

    void fail_rebuild(int n, const std::string& name, device_path path)
    {
        SCOPED_TRACE(formatted("rebuild with creation call %d (%s) failing", n, name.c_str()));
        logs_.clear();
        lose_device();
        const int frames = scene_.capture().frames;
        creation_plan().arm(n, E_OUTOFMEMORY);
        draw();
        creation_plan().disarm();
        ++storm_tally().rebuilds;
        const std::vector<creation_call>& calls = creation_plan().journal();
        ASSERT_GE(calls.size(), static_cast<size_t>(n));
        EXPECT_EQ(calls[n - 1].name, name);
        const consequence expected = consequence_of(calls, path, call_origin::rebuild);
        std::vector<std::string> lines = {lost_line};
        lines.insert(lines.end(), expected.lines.begin(), expected.lines.end());
        EXPECT_EQ(error_lines(logs_), lines);
        EXPECT_EQ(logs_.count(3, reset_line), 1);
        // A rebuild that did not fail draws its frame; one that failed leaves the next frame
        // to try again, and that one draws.
        if (expected.fatal)
            draw();
        EXPECT_EQ(scene_.capture().frames, frames + 1) << "drawing did not resume";
        expect_drawn();
        // A clean rebuild holds what the first backend held: the failed one left nothing.
        lose_device();
        expect_drawn();
        ++storm_tally().rebuilds;
        expect_drawn();
        expect_same_holdings();
    }

    void fail_next_present(HRESULT result)
    {
        device()->present_result = result;
        pending_present_failure_ = device();
    }

    void draw()
    {
        AVFrame picture = frame(frame_number_++);
        renderer_->render_frame(&picture, window_w, window_h);
        if (pending_present_failure_) {
            pending_present_failure_->present_result = S_OK;
            pending_present_failure_ = nullptr;
        }
    }

    void expect_drawn()
    {
        const int frames = scene_.capture().frames;
        const int presented = presents();
        const int number = frame_number_;
        draw();
        EXPECT_EQ(scene_.capture().frames, frames + 1) << "frame " << number;
        EXPECT_EQ(presents(), presented + 1) << "frame " << number;
        EXPECT_TRUE(shows_colour(scene_.capture().last, colour(number))) << "frame " << number;
        storm_tally().frames_drawn += scene_.capture().frames - frames;
    }

    void expect_dropped()
    {
        const int frames = scene_.capture().frames;
        const int presented = presents();
        const int number = frame_number_;
        draw();
        EXPECT_EQ(scene_.capture().frames, frames) << "frame " << number;
        EXPECT_EQ(presents(), presented) << "frame " << number;
    }

    void expect_lines(const loss& next)
    {
        EXPECT_EQ(logs_.count(1, lost_line), 1);
        EXPECT_EQ(logs_.count(5, cooperative_line(D3DERR_DEVICELOST)), next.frames_lost);
        if (next.needs_rebuild()) {
            EXPECT_EQ(logs_.count(5, cooperative_line(next.recovery)), 1);
        }
        EXPECT_EQ(logs_.count(3, reset_line), next.needs_rebuild() ? 1 : 0);
        EXPECT_EQ(error_lines(logs_), std::vector<std::string>{lost_line});
    }

    storm_scene scene_{window_w, window_h};
    log_capture logs_;
    kx_vidrender* renderer_ = nullptr;
    int frame_number_ = 0;
    fault_device* pending_present_failure_ = nullptr;
};

// Frames of two colours in the decoder's surfaces, on the decoder's device.
class d3d9_shared_loss_storm : public loss_storm {
  protected:
    void SetUp() override
    {
        ASSERT_TRUE(decoder_.ready());
        surfaces_[0] =
            decoder_.make_surface(window_w, window_h, [](int, int) { return 0x00E08020u; });
        surfaces_[1] =
            decoder_.make_surface(window_w, window_h, [](int, int) { return 0x00208090u; });
        ASSERT_TRUE(surfaces_[0] && surfaces_[1]);
        wrapper_ = fault_device::wrap(decoder_.device());
        wrapper_->fail_hook = [this](const char* method) {
            swap_chains_ += std::string(method) == "CreateAdditionalSwapChain";
            return creation_plan().decide(method);
        };
        decoder_refs_ = decoder_.device_refcount();
        loss_storm::SetUp();
    }

    void TearDown() override
    {
        loss_storm::TearDown();
        if (wrapper_)
            wrapper_->release();
        for (IDirect3DSurface9* surface : surfaces_)
            if (surface)
                surface->Release();
    }

    // Once the renderer is gone, the decoder's device is as it was before.
    void expect_references_as_before() { EXPECT_EQ(decoder_.device_refcount(), decoder_refs_); }

    kx_pixel_fmt format() const override { return kx_pix_fmt_dxva2_vld; }
    AVCodecContext* codec_context() override { return decoder_.codec_context(); }
    AVFrame frame(int n) override { return decoder_.frame_of(surfaces_[n % 2]); }
    rgb8 colour(int n) const override
    {
        return n % 2 ? expected_from_rgb(0x20, 0x80, 0x90, storm_adjust)
                     : expected_from_rgb(0xE0, 0x80, 0x20, storm_adjust);
    }
    fault_device* device() override { return wrapper_; }
    int presents() override { return wrapper_->present_calls; }
    int backends_built() override { return swap_chains_; }
    void note_holdings() override { steady_device_refs_ = decoder_.device_refcount(); }
    void expect_same_holdings() override
    {
        EXPECT_EQ(decoder_.device_refcount(), steady_device_refs_);
        EXPECT_EQ(fault_d3d9::alive(), 0);
    }

    fake_dxva2_decoder decoder_;
    IDirect3DSurface9* surfaces_[2] = {};
    fault_device* wrapper_ = nullptr;
    int swap_chains_ = 0;
    ULONG decoder_refs_ = 0;
    ULONG steady_device_refs_ = 0;
};

// Software frames on the renderer's own device, made through the patched Direct3D imports.
class d3d9_own_loss_storm : public loss_storm {
  protected:
    // Once the renderer is gone, every device and Direct3D object it made is released.
    void expect_everything_released()
    {
        EXPECT_EQ(imports_->devices_held(), 0);
        imports_->drop_released_devices(false);
        EXPECT_EQ(fault_d3d9::alive(), 0);
    }

    kx_pixel_fmt format() const override { return kx_pix_fmt_yuv420p; }
    AVCodecContext* codec_context() override { return nullptr; }
    AVFrame frame(int n) override { return pictures_[n % 2].frame; }
    rgb8 colour(int n) const override
    {
        const test_picture& picture = pictures_[n % 2];
        return expected_from_yuv(picture.y_plane[0], picture.u_plane[0], picture.v_plane[0], 0,
                                 storm_adjust);
    }
    // Each rebuild makes a device, which takes Wine a good while: a tenth of the losses.
    int losses() const override { return std::max(3, storm_options().losses / 10); }
    fault_device* device() override { return imports_->newest_device(); }
    int presents() override
    {
        int total = retired_presents_;
        for (const fault_device* device : imports_->devices())
            total += device->present_calls;
        return total;
    }
    int backends_built() override
    {
        return retired_devices_ + static_cast<int>(imports_->devices().size());
    }
    // A Direct3D 9Ex device and a plain one (made when CreateDeviceEx fails) differ in what
    // the overlay renderer makes on them: each kind has its own steady count.
    void note_holdings() override { steady_device_refs_[is_ex(device())] = device()->refcount(); }
    void expect_same_holdings() override
    {
        EXPECT_EQ(imports_->devices_held(), 1);
        const bool ex = is_ex(device());
        steady_device_refs_.try_emplace(ex, device()->refcount());
        EXPECT_EQ(device()->refcount(), steady_device_refs_[ex]);
        // Devices nobody holds any more are let go of (so that long storms stay small), and
        // with them the Direct3D objects that made them.
        const size_t before = imports_->devices().size();
        for (const fault_device* device : imports_->devices())
            if (device != imports_->newest_device() && device->refcount() == 1)
                retired_presents_ += device->present_calls;
        imports_->drop_released_devices();
        retired_devices_ += static_cast<int>(before - imports_->devices().size());
        EXPECT_EQ(fault_d3d9::alive(), 1);
    }

    test_picture pictures_[2] = {{window_w, window_h, 150, 90, 170},
                                 {window_w, window_h, 60, 160, 100}};
    static bool is_ex(fault_device* controls)
    {
        void* ex = nullptr;
        if (FAILED(controls->device()->QueryInterface(__uuidof(IDirect3DDevice9Ex), &ex)) || !ex)
            return false;
        controls->device()->Release();
        return true;
    }

    int retired_presents_ = 0;
    int retired_devices_ = 0;
    std::map<bool, ULONG> steady_device_refs_;
};

} // namespace

TEST_F(d3d9_shared_loss_storm, every_loss_drops_frames_then_draws_again_and_keeps_references)
{
    run_losses();
    expect_references_as_before();
}

TEST_F(d3d9_shared_loss_storm, a_rebuild_without_overlay_objects_draws_its_frame)
{
    run_failed_rebuilds(device_path::shared,
                        {"D3DXCreateTextureFromFileInMemory", "D3DXCreateLine", "D3DXCreateSprite"},
                        false);
    expect_references_as_before();
}

// A rebuild on the decoder's device that fails leaves a backend that holds the device but no
// swap chain: it reports the device ready, draws nothing, and nothing rebuilds it until the
// window or the picture changes size. Enable once the backend asks for a rebuild then.
TEST_F(d3d9_shared_loss_storm, DISABLED_a_failed_rebuild_is_tried_again_by_the_next_frame)
{
    run_failed_rebuilds(
        device_path::shared,
        {"CreateAdditionalSwapChain", "CreatePixelShader", "CreateVertexBuffer", "CreateTexture"},
        true);
    expect_references_as_before();
}

TEST_F(d3d9_own_loss_storm, every_loss_drops_frames_then_draws_again_and_releases_old_devices)
{
    run_losses();
    expect_everything_released();
}

TEST_F(d3d9_own_loss_storm, a_rebuild_without_overlay_objects_draws_its_frame)
{
    run_failed_rebuilds(device_path::own, {"CreateDeviceEx"}, false);
    expect_everything_released();
}

TEST_F(d3d9_own_loss_storm, a_failed_rebuild_is_tried_again_by_the_next_frame)
{
    run_failed_rebuilds(device_path::own, {"CreateTexture"}, true);
    expect_everything_released();
}
