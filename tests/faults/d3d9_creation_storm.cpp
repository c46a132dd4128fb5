// Every creation call of a Direct3D 9 initialisation failing in turn, through the renderer's
// public interface: one clean initialisation is counted, then for n = 1, 2, ... a renderer is
// initialised with its n-th creation call failing. Each time the result and the log lines must
// be the ones that call's failure calls for, nothing may stay held by a failed
// initialisation, and a clean initialisation of the same renderer must draw again. Both device
// paths: the decoder's borrowed device (DXVA2 frames) and the renderer's own device (software
// frames), the latter also with Direct3D 9Ex unable to make devices.
#include <gtest/gtest.h>

#include <iterator>
#include <memory>
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
const adjust4 neutral = {50, 50, 50, 50};
// Tried in this order, one per sweep.
const HRESULT failure_codes[] = {E_OUTOFMEMORY, D3DERR_OUTOFVIDEOMEMORY, D3DERR_NOTAVAILABLE,
                                 D3DERR_INVALIDCALL, D3DERR_DEVICELOST};

using renderer_ptr = std::unique_ptr<kx_vidrender, void (*)(kx_vidrender*)>;

renderer_ptr make_renderer(kx_pixel_fmt format)
{
    return renderer_ptr(kx_vidrender::create_vrender(format), kx_vidrender::destroy_vrender);
}

class creation_storm : public ::testing::Test {
  protected:
    virtual kx_pixel_fmt format() const = 0;
    virtual AVCodecContext* codec_context() = 0;
    virtual AVFrame frame() = 0;
    virtual rgb8 colour() const = 0;
    // Nothing the renderer made is held any more, and borrowed objects have their old counts.
    virtual void expect_nothing_held() = 0;

    void SetUp() override
    {
        imports_ = std::make_unique<d3d9_import_faults>();
        ASSERT_TRUE(imports_->ok());
    }

    void TearDown() override
    {
        creation_plan().disarm();
        creation_plan().refuse_nothing();
        imports_.reset();
    }

    void run_storm(device_path path, const std::set<std::string>& short_names)
    {
        const std::vector<creation_call> normal = count_calls();
        ASSERT_FALSE(normal.empty());
        std::printf("%s: %zu creation calls: %s\n",
                    ::testing::UnitTest::GetInstance()->current_test_info()->name(), normal.size(),
                    names_of(normal).c_str());
        for (int sweep = 0; sweep < storm_options().sweeps; ++sweep) {
            const HRESULT code = failure_codes[sweep % std::size(failure_codes)];
            for (size_t n = 1; n <= normal.size(); ++n) {
                if (FAILED(normal[n - 1].result) ||
                    !chosen_step(normal, n, short_names, call_origin::initialisation))
                    continue;
                fail_call(static_cast<int>(n), code, normal[n - 1].name, path);
                if (HasFatalFailure())
                    return;
            }
        }
    }

    std::unique_ptr<d3d9_import_faults> imports_;

  private:
    // The calls of one clean initialisation, after which the renderer must draw.
    std::vector<creation_call> count_calls()
    {
        renderer_ptr renderer = make_renderer(format());
        creation_plan().arm(0, S_OK);
        const bool ok =
            renderer->init_vrender(scene_.window(), window_w, window_h, codec_context());
        creation_plan().disarm();
        const std::vector<creation_call> calls = creation_plan().journal();
        EXPECT_TRUE(ok);
        scene_.dress(renderer.get(), neutral);
        expect_drawn(renderer.get());
        renderer.reset();
        expect_nothing_held();
        return calls;
    }

    void fail_call(int n, HRESULT code, const std::string& name, device_path path)
    {
        SCOPED_TRACE(formatted("creation call %d (%s) failing with %08lx", n, name.c_str(),
                               static_cast<unsigned long>(code)));
        renderer_ptr renderer = make_renderer(format());
        logs_.clear();
        creation_plan().arm(n, code);
        const bool ok =
            renderer->init_vrender(scene_.window(), window_w, window_h, codec_context());
        creation_plan().disarm();
        const std::vector<creation_call>& calls = creation_plan().journal();
        ASSERT_GE(calls.size(), static_cast<size_t>(n));
        EXPECT_EQ(calls[n - 1].name, name);
        const consequence expected = consequence_of(calls, path, call_origin::initialisation);
        EXPECT_EQ(ok, !expected.fatal);
        EXPECT_EQ(error_lines(logs_), expected.lines);
        if (!ok)
            expect_nothing_held();

        // Whatever the initialisation made draws the picture, overlays and all.
        scene_.dress(renderer.get(), neutral);
        if (ok)
            expect_drawn(renderer.get());
        // A clean initialisation of the same renderer draws again.
        EXPECT_TRUE(renderer->init_vrender(scene_.window(), window_w, window_h, codec_context()));
        scene_.dress(renderer.get(), neutral);
        expect_drawn(renderer.get());
        renderer.reset();
        expect_nothing_held();
    }

    void expect_drawn(kx_vidrender* renderer)
    {
        const int frames = scene_.capture().frames;
        AVFrame picture = frame();
        renderer->render_frame(&picture, window_w, window_h);
        EXPECT_EQ(scene_.capture().frames, frames + 1);
        EXPECT_TRUE(shows_colour(scene_.capture().last, colour()));
        storm_tally().frames_drawn += scene_.capture().frames - frames;
    }

    storm_scene scene_{window_w, window_h};
    log_capture logs_;
};

// DXVA2 frames on the decoder's device, which every initialisation borrows.
class d3d9_shared_creation_storm : public creation_storm {
  protected:
    void SetUp() override
    {
        ASSERT_TRUE(decoder_.ready());
        surface_ = decoder_.make_surface(window_w, window_h, [](int, int) { return 0x00C06030u; });
        ASSERT_NE(surface_, nullptr);
        wrapper_ = fault_device::wrap(decoder_.device());
        wrapper_->fail_hook = [](const char* method) { return creation_plan().decide(method); };
        device_refs_ = decoder_.device_refcount();
        creation_storm::SetUp();
    }

    void TearDown() override
    {
        creation_storm::TearDown();
        if (wrapper_)
            wrapper_->release();
        if (surface_)
            surface_->Release();
    }

    kx_pixel_fmt format() const override { return kx_pix_fmt_dxva2_vld; }
    AVCodecContext* codec_context() override { return decoder_.codec_context(); }
    AVFrame frame() override { return decoder_.frame_of(surface_); }
    rgb8 colour() const override { return expected_from_rgb(0xC0, 0x60, 0x30, neutral); }
    void expect_nothing_held() override
    {
        EXPECT_EQ(decoder_.device_refcount(), device_refs_);
        EXPECT_EQ(fault_d3d9::alive(), 0);
    }

    fake_dxva2_decoder decoder_;
    IDirect3DSurface9* surface_ = nullptr;
    fault_device* wrapper_ = nullptr;
    ULONG device_refs_ = 0;
};

// Software frames on a device the renderer makes through the patched Direct3D imports.
class d3d9_own_creation_storm : public creation_storm {
  protected:
    kx_pixel_fmt format() const override { return kx_pix_fmt_yuv420p; }
    AVCodecContext* codec_context() override { return nullptr; }
    AVFrame frame() override { return picture_.frame; }
    rgb8 colour() const override { return expected_from_yuv(150, 90, 170, 0, neutral); }
    void expect_nothing_held() override
    {
        EXPECT_EQ(imports_->devices_held(), 0);
        imports_->drop_released_devices(false);
        EXPECT_EQ(fault_d3d9::alive(), 0);
    }

    test_picture picture_{window_w, window_h, 150, 90, 170};
};

} // namespace

TEST_F(d3d9_shared_creation_storm, each_creation_call_failing_in_turn)
{
    run_storm(device_path::shared,
              {capability_check, "CreateAdditionalSwapChain", "CreatePixelShader",
               "CreateVertexBuffer", "CreateTexture", "D3DXCreateTextureFromFileInMemory",
               "D3DXCreateTextureFromFileInMemory>CreateTexture", "D3DXCreateLine",
               "D3DXCreateSprite"});
}

// The overlay renderer's D3DX calls and the strategy's resources are the same on both paths:
// the short storm leaves them to the shared one.
TEST_F(d3d9_own_creation_storm, each_creation_call_failing_in_turn)
{
    run_storm(device_path::own, {capability_check, "Direct3DCreate9Ex", "CreateDeviceEx",
                                 "GetSwapChain", "CreatePixelShader", "CreateTexture"});
}

TEST_F(d3d9_own_creation_storm, each_creation_call_failing_in_turn_without_direct3d_9ex_devices)
{
    creation_plan().refuse_always("CreateDeviceEx", D3DERR_NOTAVAILABLE);
    run_storm(device_path::own, {"Direct3DCreate9", "CreateDevice"});
}
