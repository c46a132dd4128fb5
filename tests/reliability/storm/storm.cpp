// vrender_reliability storm [--long] [--seed N] [--part losses|creation]: device and surface loss
// over and over, and creation calls failing one after another, on real platform objects whose
// methods are patched in place. Ends with one "fault storm" line; exit 1 when a check failed.
#include "storm.h"

#include <d3d11.h>
#include <d3d9.h>
#include <d3dx9.h>
#include <ddraw.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "d3d11_fake_decoder.h"
#include "d3d11_readback.h"
#include "dc_capture.h"
#include "fake_dxva2_decoder.h"
#include "import_patch.h"
#include "modes.h"
#include "test_picture.h"

namespace {

constexpr int video_w = 160;
constexpr int video_h = 120;
const char* const rebuilds_line =
    "handle lost and reset render object uuuuuuuuuuuuuuuuuuuuuuuuuuu\n";

// The captured centre of the picture against an expected colour.
bool near_colour(const captured_picture& shown, uint32_t rgb)
{
    if (shown.empty())
        return false;
    const uint32_t got = shown.at(shown.width / 2, shown.height / 2);
    for (int shift : {0, 8, 16})
        if (std::abs(static_cast<int>(got >> shift & 0xFF) -
                     static_cast<int>(rgb >> shift & 0xFF)) > 8)
            return false;
    return true;
}

// Flat greys, whose colour does not depend on the colour class: limited-range Y 16 is black and
// 235 white.
class software_frames : public storm_path {
  public:
    const char* name() const override { return "software frames"; }
    bool start() override
    {
        stop();
        renderer_ = kx_vidrender::create_vrender(kx_pix_fmt_yuv420p);
        capture_.width = video_w;
        capture_.height = video_h;
        const bool ok = renderer_->init_vrender(window_.handle(), video_w, video_h, nullptr);
        renderer_->set_draw_callback(capture_callback, 0, &capture_);
        return ok;
    }
    bool frame(int n) override
    {
        test_picture& picture = n & 2 ? white_ : black_;
        const int before = capture_.frames;
        renderer_->render_frame(&picture.frame, video_w, video_h);
        return capture_.frames == before + 1 && near_colour(capture_.last, n & 2 ? 0xFFFFFF : 0);
    }

  private:
    test_picture white_{video_w, video_h, 235, 128, 128};
    test_picture black_{video_w, video_h, 16, 128, 128};
    frame_capture capture_;
};

uint32_t orange(int, int)
{
    return 0xE08020;
}
uint32_t teal(int, int)
{
    return 0x2090A0;
}

class dxva2_frames : public storm_path {
  public:
    dxva2_frames()
    {
        com_targets::add(decoder_.device());
        surfaces_[0] = decoder_.make_surface(video_w, video_h, orange);
        surfaces_[1] = decoder_.make_surface(video_w, video_h, teal);
    }
    ~dxva2_frames() override
    {
        stop();
        com_targets::remove(decoder_.device());
        for (IDirect3DSurface9* surface : surfaces_)
            surface->Release();
    }
    const char* name() const override { return "DXVA2 frames"; }
    bool start() override
    {
        stop();
        renderer_ = kx_vidrender::create_vrender(kx_pix_fmt_dxva2_vld);
        capture_.width = video_w;
        capture_.height = video_h;
        const bool ok =
            renderer_->init_vrender(window_.handle(), video_w, video_h, decoder_.codec_context());
        renderer_->set_draw_callback(capture_callback, 0, &capture_);
        return ok;
    }
    bool frame(int n) override
    {
        AVFrame frame = decoder_.frame_of(surfaces_[n >> 1 & 1]);
        const int before = capture_.frames;
        renderer_->render_frame(&frame, video_w, video_h);
        return capture_.frames == before + 1 &&
               near_colour(capture_.last, n & 2 ? teal(0, 0) : orange(0, 0));
    }
    std::vector<IUnknown*> borrowed() override { return {decoder_.device(), decoder_.d3d9()}; }

  private:
    fake_dxva2_decoder decoder_;
    IDirect3DSurface9* surfaces_[2] = {};
    frame_capture capture_;
};

uint8_t dark(int, int)
{
    return 40;
}
uint8_t light(int, int)
{
    return 200;
}

// Drawn is what the swap chain's back buffer holds when it is presented: the grey of the
// slice's luma with neutral chroma. Present is watched on every swap chain (through one of
// this path's own, whose table the library's share).
class d3d11_frames : public storm_path {
    using present = method_patch<&IDXGISwapChain::Present>;

  public:
    d3d11_frames()
    {
        decoder_.fill_luma(0, dark);
        decoder_.fill_luma(1, light);
    }
    ~d3d11_frames() override
    {
        stop();
        watch_.reset();
        table_owner_->Release();
        factory_->Release();
    }
    const char* name() const override { return "Direct3D 11 frames"; }
    bool start() override
    {
        stop();
        renderer_ = kx_vidrender::create_vrender(kx_pix_fmt_d3d11);
        const bool ok =
            renderer_->init_vrender(window_.handle(), video_w, video_h, decoder_.codec_context());
        decoder_.fill_chroma(128, 128);
        return ok;
    }
    bool frame(int n) override
    {
        shown_ = -1;
        AVFrame frame = decoder_.frame_of(n >> 1 & 1);
        renderer_->render_frame(&frame, video_w, video_h);
        const int grey = ((n & 2 ? 200 : 40) - 16) * 255 / 219;
        return std::abs(shown_ - grey) <= 8;
    }
    std::vector<IUnknown*> borrowed() override
    {
        decoder_.release_standins();
        return {decoder_.device(), decoder_.context()};
    }
    int locks_unreturned() const { return decoder_.locks - decoder_.unlocks; }
    IDXGISwapChain* table_owner() const { return table_owner_; }

  private:
    HRESULT presenting(IDXGISwapChain* swap_chain, UINT interval, UINT flags)
    {
        {
            const bypass_faults own_calls;
            ID3D11Texture2D* buffer = nullptr;
            if (SUCCEEDED(swap_chain->GetBuffer(0, __uuidof(ID3D11Texture2D),
                                                reinterpret_cast<void**>(&buffer)))) {
                const texture_pixels pixels = read_pixels(decoder_.context(), buffer);
                buffer->Release();
                if (!pixels.empty())
                    shown_ = pixels.green(pixels.width / 2, pixels.height / 2);
            }
        }
        return present::next(swap_chain, interval, flags);
    }
    IDXGISwapChain* make_table_owner()
    {
        CreateDXGIFactory(__uuidof(IDXGIFactory), reinterpret_cast<void**>(&factory_));
        DXGI_SWAP_CHAIN_DESC desc = {};
        desc.BufferDesc.Format = DXGI_FORMAT_B8G8R8A8_UNORM;
        desc.SampleDesc.Count = 1;
        desc.BufferUsage = DXGI_USAGE_RENDER_TARGET_OUTPUT;
        desc.BufferCount = 1;
        desc.OutputWindow = own_window_.handle();
        desc.Windowed = TRUE;
        IDXGISwapChain* made = nullptr;
        factory_->CreateSwapChain(decoder_.device(), &desc, &made);
        return made;
    }

    fake_d3d11_decoder decoder_{video_w, video_h, 2};
    test_window own_window_{64, 64};
    IDXGIFactory* factory_ = nullptr;
    IDXGISwapChain* table_owner_ = make_table_owner();
    std::unique_ptr<present> watch_ = std::make_unique<present>(
        table_owner_,
        [this](IDXGISwapChain* self, UINT interval, UINT flags) {
            return presenting(self, interval, flags);
        },
        true);
    int shown_ = -1;
};

// Device loss after device loss: the swap chain's Present reports the loss, the device stays
// lost for a few frames (dropped), then needs a reset, and the front rebuilds; in every third
// rebuild a creation call fails, which must log `failed_lines` and still draw.
void d3d9_loss_storm(storm_path& path, IDirect3DDevice9* device, int losses,
                     const std::function<std::shared_ptr<void>()>& failing_rebuild,
                     const std::vector<std::string>& failed_lines)
{
    std::vector<ULONG> counts;
    for (IUnknown* object : path.borrowed())
        counts.push_back(refcount(object));
    check(path.start(), std::string(path.name()) + ": initialisation");
    int n = 0;
    check(draws_again(path, n), std::string(path.name()) + ": first frames");
    IDirect3DSwapChain9* own_chain = nullptr;
    device->GetSwapChain(0, &own_chain);
    bool lose = false;
    int lost_frames = 0;
    using present = method_patch<&IDirect3DSwapChain9::Present>;
    using cooperation = method_patch<&IDirect3DDevice9::TestCooperativeLevel>;
    present losing(
        own_chain,
        [&](IDirect3DSwapChain9* self, const RECT* a, const RECT* b, HWND w, const RGNDATA* r,
            DWORD f) -> HRESULT {
            if (!lose)
                return present::next(self, a, b, w, r, f);
            lose = false;
            ++run().faults;
            return D3DERR_DEVICELOST;
        },
        true);
    cooperation lost(
        device,
        [&](IDirect3DDevice9* self) -> HRESULT {
            if (lost_frames < 0)
                return cooperation::next(self);
            return lost_frames-- > 0 ? D3DERR_DEVICELOST : D3DERR_DEVICENOTRESET;
        },
        true);
    own_chain->Release();
    log_capture logs;
    for (int loss = 0; loss < losses; ++loss) {
        const std::string where = std::string(path.name()) + ", loss " + std::to_string(loss);
        const int held = static_cast<int>(run().random() % 3);
        const bool fail_rebuild = loss % 3 == 2;
        logs.clear();
        lose = true;
        lost_frames = -1;
        path.frame(n++);
        lost_frames = held;
        for (int i = 0; i < held; ++i, ++run().dropped)
            check(!path.frame(n++), where + ": a frame drawn while the device is lost");
        {
            std::shared_ptr<void> failing = fail_rebuild ? failing_rebuild() : nullptr;
            path.frame(n++);
            lost_frames = -1;
        }
        check(draws_again(path, n), where + ": no frame drawn after the loss");
        std::vector<std::string> expected = {"1 device lost error occured!\n"};
        if (fail_rebuild)
            expected.insert(expected.end(), failed_lines.begin(), failed_lines.end());
        check(errors(logs) == expected, where + ": the loss's lines");
        check(logs.count(3, rebuilds_line) == 1, where + ": rebuilds");
        ++run().runs;
    }
    path.stop();
    const std::vector<IUnknown*> objects = path.borrowed();
    for (size_t i = 0; i < objects.size(); ++i)
        check(refcount(objects[i]) == counts[i],
              std::string(path.name()) + ": a borrowed object's count changed by the storm");
}

HRESULT WINAPI refused_sprite(IDirect3DDevice9*, ID3DXSprite** sprite)
{
    ++run().faults;
    *sprite = nullptr;
    return E_OUTOFMEMORY;
}

// On the decoder's device the rebuild goes on without the overlay objects; on a device of its
// own, the backend falls back from the Ex device to a plain one.
void d3d9_loss_storms()
{
    {
        dxva2_frames path;
        fake_dxva2_decoder table_owner;
        d3d9_loss_storm(path, table_owner.device(), run().long_run ? 2000 : 12,
                        [] {
                            return std::make_shared<import_patch>(
                                GetModuleHandleA("video_render.dll"), "d3dx9_43.dll",
                                "D3DXCreateSprite", reinterpret_cast<void*>(refused_sprite));
                        },
                        {});
    }
    software_frames path;
    fake_dxva2_decoder table_owner;
    IDirect3D9Ex* d3d9ex = nullptr;
    Direct3DCreate9Ex(D3D_SDK_VERSION, &d3d9ex);
    d3d9_loss_storm(path, table_owner.device(), run().long_run ? 200 : 6,
                    [d3d9ex] {
                        return fail_calls<&IDirect3D9Ex::CreateDeviceEx>(
                            d3d9ex, D3DERR_OUTOFVIDEOMEMORY, only_call(1));
                    },
                    {code_text("1 CreateDeviceEx error,code:%p!\n", D3DERR_OUTOFVIDEOMEMORY),
                     "1 CreateDeviceEx error!Try CreateDevice...\n"});
    d3d9ex->Release();
}

// Surfaces lost over and over: a blit reports the loss, Restore fails for a few frames
// (dropped), and then the picture comes back without a rebuild.
void ddraw_loss_storm()
{
    software_frames path;
    check(path.start(), "DirectDraw: initialisation");
    IDirectDraw* ddraw = nullptr;
    DirectDrawCreate(nullptr, &ddraw, nullptr);
    ddraw->SetCooperativeLevel(nullptr, DDSCL_NORMAL);
    DDSURFACEDESC desc = {};
    desc.dwSize = sizeof(desc);
    desc.dwFlags = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT;
    desc.ddsCaps.dwCaps = DDSCAPS_OFFSCREENPLAIN | DDSCAPS_SYSTEMMEMORY;
    desc.dwWidth = desc.dwHeight = 8;
    IDirectDrawSurface* surface = nullptr;
    IDirectDrawSurface2* table_owner = nullptr;
    ddraw->CreateSurface(&desc, &surface, nullptr);
    surface->QueryInterface(IID_IDirectDrawSurface2, reinterpret_cast<void**>(&table_owner));
    bool lose = false;
    bool stuck = false;
    using blit = method_patch<&IDirectDrawSurface2::Blt>;
    using restore = method_patch<&IDirectDrawSurface2::Restore>;
    blit losing(
        table_owner,
        [&](IDirectDrawSurface2* self, RECT* to, IDirectDrawSurface2* from, RECT* part, DWORD flags,
            DDBLTFX* fx) -> HRESULT {
            if (!lose)
                return blit::next(self, to, from, part, flags, fx);
            ++run().faults;
            return DDERR_SURFACELOST;
        },
        true);
    restore restoring(
        table_owner,
        [&](IDirectDrawSurface2* self) -> HRESULT {
            return stuck ? DDERR_WRONGMODE : restore::next(self);
        },
        true);
    int n = 0;
    check(draws_again(path, n), "DirectDraw: first frames");
    log_capture logs;
    const int losses = run().long_run ? 20000 : 160;
    for (int loss = 0; loss < losses; ++loss) {
        const std::string where = "DirectDraw, loss " + std::to_string(loss);
        const int held = 1 + static_cast<int>(run().random() % 3);
        logs.clear();
        lose = true;
        path.frame(n++);
        lose = false;
        stuck = true;
        for (int i = 0; i < held; ++i, ++run().dropped)
            check(!path.frame(n++), where + ": a frame drawn before the surfaces came back");
        stuck = false;
        check(draws_again(path, n), where + ": no frame drawn after the surfaces came back");
        check(errors(logs) ==
                  std::vector<std::string>{code_text(
                      "1 Blt rgb_offscreen_surface_ error!result:%p\n", DDERR_SURFACELOST)},
              where + ": the loss's lines");
        ++run().runs;
    }
    path.stop();
    table_owner->Release();
    surface->Release();
    ddraw->Release();
}

// Present failing for stretches: nothing is logged, the decoder's lock is given back after
// every frame and the frames after the stretch show their pictures.
void d3d11_present_storm()
{
    d3d11_frames path;
    std::vector<ULONG> counts;
    for (IUnknown* object : path.borrowed())
        counts.push_back(refcount(object));
    check(path.start(), "Direct3D 11: initialisation");
    int failing = 0;
    using present = method_patch<&IDXGISwapChain::Present>;
    present presenting(
        path.table_owner(),
        [&](IDXGISwapChain* self, UINT interval, UINT flags) -> HRESULT {
            const HRESULT shown = present::next(self, interval, flags);
            if (failing-- <= 0)
                return shown;
            ++run().faults;
            return DXGI_ERROR_DEVICE_REMOVED;
        },
        true);
    log_capture logs;
    int n = 0;
    const int stretches = run().long_run ? 1000 : 24;
    for (int stretch = 0; stretch < stretches; ++stretch) {
        const std::string where = "Direct3D 11, stretch " + std::to_string(stretch);
        failing = 1 + static_cast<int>(run().random() % 5);
        for (int frames = failing; frames > 0; --frames, ++run().dropped)
            path.frame(n++);
        check(draws_again(path, n), where + ": no frame drawn after the stretch");
        check(path.locks_unreturned() == 0, where + ": the decoder's lock is held");
        ++run().runs;
    }
    check(logs.lines().empty(), "Direct3D 11: lines logged by the present storm");
    path.stop();
    const std::vector<IUnknown*> objects = path.borrowed();
    for (size_t i = 0; i < objects.size(); ++i)
        check(refcount(objects[i]) == counts[i], "Direct3D 11: a borrowed object's count changed");
}

bool direct3d9_usable()
{
    IDirect3D9Ex* d3d9 = nullptr;
    if (FAILED(Direct3DCreate9Ex(D3D_SDK_VERSION, &d3d9)) || !d3d9)
        return false;
    d3d9->Release();
    return true;
}

} // namespace

storm_run& run()
{
    static storm_run the_run;
    return the_run;
}

bool check(bool ok, const std::string& what)
{
    if (!ok) {
        ++run().failures;
        std::fprintf(stderr, "storm: %s\n", what.c_str());
    }
    return ok;
}

std::string code_text(const char* format, HRESULT code)
{
    char text[256];
    if (std::strstr(format, "%p"))
        std::snprintf(text, sizeof(text), format,
                      reinterpret_cast<void*>(static_cast<uintptr_t>(static_cast<uint32_t>(code))));
    else
        std::snprintf(text, sizeof(text), format, static_cast<int>(code));
    return text;
}

std::vector<std::string> errors(const log_capture& logs)
{
    std::vector<std::string> lines;
    for (const log_line& line : logs.lines())
        if (line.level == 1)
            lines.push_back("1 " + line.text);
    if (lines.empty())
        lines.push_back("none");
    return lines;
}

ULONG refcount(IUnknown* object)
{
    object->AddRef();
    return object->Release();
}

void storm_path::stop()
{
    if (renderer_)
        kx_vidrender::destroy_vrender(renderer_);
    renderer_ = nullptr;
}

bool draws_again(storm_path& path, int& n)
{
    n += n & 1;
    const bool first = path.frame(n++);
    const bool drawn = path.frame(n++) || first;
    run().drawn += drawn;
    return drawn;
}

std::unique_ptr<storm_path> software_path()
{
    return std::make_unique<software_frames>();
}
std::unique_ptr<storm_path> dxva2_path()
{
    return std::make_unique<dxva2_frames>();
}
std::unique_ptr<storm_path> d3d11_path()
{
    return std::make_unique<d3d11_frames>();
}

int run_storm(int argc, char** argv)
{
    unsigned seed = 1;
    std::string part = "all";
    for (int i = 0; i < argc; ++i) {
        if (std::strcmp(argv[i], "--long") == 0) {
            run().long_run = true;
        } else if (std::strcmp(argv[i], "--part") == 0 && i + 1 < argc) {
            part = argv[++i];
        } else if (std::strcmp(argv[i], "--seed") == 0 && i + 1 < argc) {
            seed = static_cast<unsigned>(std::strtoul(argv[++i], nullptr, 10));
        } else {
            std::fprintf(stderr, "usage: storm [--long] [--seed N] [--part losses|creation]\n");
            return 2;
        }
    }
    run().random.seed(seed);
    const bool ddraw_only = !direct3d9_usable();
    if (part != "creation" && ddraw_only) {
        ddraw_loss_storm();
    } else if (part != "creation") {
        d3d9_loss_storms();
        d3d11_present_storm();
    }
    if (part != "losses")
        creation_storms(ddraw_only);
    const storm_run& r = run();
    std::printf("fault storm (%s, %s, seed %u): %ld faults injected, %ld frames drawn, %ld frames "
                "dropped, %ld runs, %d failures\n",
                ddraw_only ? "DirectDraw" : "Direct3D 9 and 11", r.long_run ? "long" : "short",
                seed, r.faults, r.drawn, r.dropped, r.runs, r.failures);
    return r.failures ? 1 : 0;
}
