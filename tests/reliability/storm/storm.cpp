// vrender_reliability storm [--long] [--seed N] [--part losses|creation] [--backend d3d9|d3d11|
// ddraw]: device and surface loss over and over, and creation calls failing one after another,
// on real platform objects whose methods are patched in place. The first failed check ends the
// run through the harness's report; a run that passes ends with one "fault storm" line.
#include <d3d11.h>
#include <d3d9.h>
#include <d3dx9.h>
#include <ddraw.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <vector>

#include "com_patch.h"
#include "dc_capture.h"
#include "ddraw_surface.h"
#include "fake_dxva2_decoder.h"
#include "harness.h"
#include "import_patch.h"
#include "log_capture.h"
#include "modes.h"
#include "test_window.h"

namespace {

struct storm_run {
    bool long_run = false, ddraw_only = false;
    std::string backend = "all";
    seeded_random random{1};
    uint32_t seed = 1;
    long faults = 0, drawn = 0, dropped = 0, runs = 0;
} the_run;

void print_summary(int failures)
{
    std::printf("fault storm (%s, %s, seed %u): %ld faults injected, %ld frames drawn, %ld frames "
                "dropped, %ld runs, %d failures\n",
                the_run.ddraw_only ? "DirectDraw" : "Direct3D 9 and 11",
                the_run.long_run ? "long" : "short", the_run.seed, the_run.faults, the_run.drawn,
                the_run.dropped, the_run.runs, failures);
    std::fflush(stdout);
}

void check(bool ok, const std::string& what)
{
    if (ok)
        return;
    print_summary(1);
    run_report::fail("storm: %s", what.c_str());
}

// `format` with `code` written in as the library prints it (%p, %x or %d).
std::string code_text(const char* format, HRESULT code)
{
    char text[256];
    const auto bits = static_cast<uint32_t>(code);
    if (std::strstr(format, "%p"))
        std::snprintf(text, sizeof(text), format, reinterpret_cast<void*>(uintptr_t{bits}));
    else
        std::snprintf(text, sizeof(text), format, bits);
    return text;
}

// The level-1 lines captured, each as "1 <text>"; "none" when there are none.
std::vector<std::string> errors(const log_capture& logs)
{
    std::vector<std::string> lines;
    for (const log_line& line : logs.lines())
        if (line.level == 1)
            lines.push_back("1 " + line.text);
    return lines.empty() ? std::vector<std::string>{"none"} : lines;
}

// A method answering `code` to the calls `failing` picks (numbered from 1, on every object of
// its table) and passing the rest on.
template <auto Member, class T>
std::shared_ptr<void> fail_calls(T* on, HRESULT code, std::function<bool(int)> failing)
{
    using patch = method_patch<Member>;
    auto hook = [code, failing, calls = 0](auto* self, auto... args) mutable -> HRESULT {
        if (!failing(++calls))
            return patch::next(self, args...);
        ++the_run.faults;
        return code;
    };
    return std::make_shared<patch>(on, hook, true);
}
template <auto Member, class T>
std::function<std::shared_ptr<void>()> first_fails(T* on, HRESULT code)
{
    return [on, code] { return fail_calls<Member>(on, code, [](int call) { return call == 1; }); };
}

// A renderer of one of the harness's frame sources on a window of its own; frames that reach
// the draw callback are captured.
class storm_path {
  public:
    explicit storm_path(const char* kind) : name_(kind), source_(make_frame_source(kind)) {}
    ~storm_path() { stop(); }
    const std::string& name() const { return name_; }
    // A fresh renderer; true when its initialisation succeeds.
    bool start()
    {
        stop();
        renderer_ = kx_vidrender::create_vrender(source_->format());
        const bool ok = renderer_->init_vrender(window_.handle(), frame_source::width,
                                                frame_source::height, source_->codec_context());
        renderer_->set_draw_callback(capture_callback, 0, &capture_);
        return ok;
    }
    // Renders frame `n`: true when its picture reached the window.
    bool frame(int n)
    {
        const int before = capture_.frames;
        renderer_->render_frame(source_->frame(n), frame_source::width, frame_source::height);
        return source_->shows(n,
                              capture_.frames == before + 1 ? capture_.last : captured_picture());
    }
    void stop()
    {
        if (renderer_)
            kx_vidrender::destroy_vrender(renderer_);
        renderer_ = nullptr;
    }
    // Checks that the decoder's borrowed objects count as at the first call.
    void check_counts()
    {
        source_->let_go();
        const std::string counts = source_->borrowed();
        counts_ = counts_.empty() ? counts : counts_;
        check(counts == counts_,
              name_ + ": the decoder's objects count " + counts + ", first " + counts_);
    }
    // A picture reaches the window within `frames` frames, `pause` ms apart (failed rebuilds
    // are paced).
    bool draws_within(int& n, int frames, DWORD pause = 0)
    {
        for (int i = 0; i < frames; ++i, Sleep(pause))
            if (const long before = copies(); frame(n++) && (before < 0 || copies() > before))
                return ++the_run.drawn, true;
        return false;
    }
    bool lock_balanced() const { return source_->lock_balanced(); }
    long copies() const { return source_->copies(); }

  private:
    std::string name_, counts_;
    std::unique_ptr<frame_source> source_;
    test_window window_{frame_source::width, frame_source::height};
    frame_capture capture_{frame_source::width, frame_source::height, 0, {}};
    kx_vidrender* renderer_ = nullptr;
};

bool wanted(const char* backend)
{
    return the_run.backend == "all" || the_run.backend == backend;
}

// Device loss after device loss: the swap chain's Present reports the loss, the device stays
// lost for a few frames (dropped), then needs a reset and the front rebuilds; in every third
// rebuild a creation call fails, which must log `failed_lines` and still draw. With `stretch`
// the call fails on every rebuild for a few frames (the display still off): they are dropped,
// the failure is logged where it starts and ends, and drawing resumes once the call works.
void d3d9_loss_storm(const char* kind, IDirect3DDevice9* device, int losses,
                     const std::function<std::shared_ptr<void>()>& failing_rebuild,
                     const std::vector<std::string>& failed_lines, bool stretch = false)
{
    storm_path path(kind);
    path.check_counts();
    const std::string name = path.name();
    int n = 0;
    check(path.start() && path.draws_within(n, 2), name + ": the first frames");
    IDirect3DSwapChain9* table_owner = nullptr;
    device->GetSwapChain(0, &table_owner);
    table_owner->Release(); // the device keeps it
    bool lose = false;
    int lost_frames = -1;
    auto losing = fail_calls<&IDirect3DSwapChain9::Present>(table_owner, D3DERR_DEVICELOST,
                                                            [&](int) { return lose; });
    using cooperation = method_patch<&IDirect3DDevice9::TestCooperativeLevel>;
    cooperation lost(
        device,
        [&](IDirect3DDevice9* self) -> HRESULT {
            if (lost_frames < 0)
                return cooperation::next(self);
            return lost_frames-- > 0 ? D3DERR_DEVICELOST : D3DERR_DEVICENOTRESET;
        },
        true);
    log_capture logs;
    for (int loss = 0; loss < losses; ++loss, ++the_run.runs) {
        const std::string where = name + ", loss " + std::to_string(loss);
        const int held = static_cast<int>(the_run.random.below(3));
        logs.clear();
        lose = true;
        path.frame(n++);
        lose = false;
        lost_frames = held;
        for (int i = 0; i < held; ++i, ++the_run.dropped)
            check(!path.frame(n++), where + ": a frame drawn while the device is lost");
        const int failing_frames = stretch ? 2 + static_cast<int>(the_run.random.below(4)) : 1;
        {
            std::shared_ptr<void> failing = loss % 3 == 2 ? failing_rebuild() : nullptr;
            for (int i = 0; i < failing_frames; ++i)
                check(!path.frame(n++) || !stretch || loss % 3 != 2,
                      where + ": a frame drawn by a failed rebuild");
            lost_frames = -1;
        }
        check(stretch ? path.draws_within(n, 30, 20) : path.draws_within(n, 2),
              where + ": no frame drawn after the loss");
        std::vector<std::string> expected = {"1 device lost error occured!\n"};
        if (loss % 3 == 2)
            expected.insert(expected.end(), failed_lines.begin(), failed_lines.end());
        std::vector<std::string> got, all = errors(logs);
        for (const std::string& line : all) // failed rebuilds log as often as they are tried
            if (!stretch || std::find(got.begin(), got.end(), line) == got.end())
                got.push_back(line);
        check(got == expected && std::count(all.begin(), all.end(), expected.back()) <= 1,
              where + ": the loss's lines (first: " + got.front() + ")");
        check(logs.count(3, "handle lost and reset render object "
                            "uuuuuuuuuuuuuuuuuuuuuuuuuuu\n") == 1,
              where + ": one rebuild");
    }
    path.stop();
    path.check_counts();
}

// Every call of an import of video_render.dll answers `code`.
template <HRESULT code, class... A> HRESULT WINAPI refused(A...)
{
    ++the_run.faults;
    return code;
}
template <class F>
std::function<std::shared_ptr<void>()> import_refused(const char* dll, const char* name, F* with)
{
    return [=] {
        auto patch = std::make_shared<import_patch>(GetModuleHandleA("video_render.dll"), dll, name,
                                                    reinterpret_cast<void*>(with));
        check(patch->ok(), std::string("video_render.dll does not import ") + name);
        return patch;
    };
}
// The library looks D3DX's functions up when a renderer starts: D3DXCreateSprite is found
// refusing.
FARPROC WINAPI lookup_with_refused_sprite(HMODULE module, LPCSTR name)
{
    if (!IS_INTRESOURCE(name) && std::strcmp(name, "D3DXCreateSprite") == 0)
        return reinterpret_cast<FARPROC>(
            reinterpret_cast<void (*)()>(refused<E_OUTOFMEMORY, IDirect3DDevice9*, ID3DXSprite**>));
    return GetProcAddress(module, name);
}

// On the decoder's device the rebuild goes on with the overlay texts drawn without D3DX; on a
// device of its own the backend falls back from the Ex device to a plain one.
void d3d9_loss_storms()
{
    fake_dxva2_decoder table_owner;
    d3d9_loss_storm("dxva2", table_owner.device(), the_run.long_run ? 2000 : 12,
                    import_refused("kernel32.dll", "GetProcAddress", lookup_with_refused_sprite),
                    {});
    IDirect3D9Ex* d3d9ex = nullptr;
    Direct3DCreate9Ex(D3D_SDK_VERSION, &d3d9ex);
    d3d9_loss_storm("software", table_owner.device(), the_run.long_run ? 200 : 6,
                    first_fails<&IDirect3D9Ex::CreateDeviceEx>(d3d9ex, D3DERR_OUTOFVIDEOMEMORY),
                    {code_text("1 CreateDeviceEx error,code:%p!\n", D3DERR_OUTOFVIDEOMEMORY),
                     "1 CreateDeviceEx error!Try CreateDevice...\n"});
    d3d9ex->Release();
    const std::string swap_chain_failed =
        code_text("1 create additional swapchain failed %d\n", E_OUTOFMEMORY);
    d3d9_loss_storm(
        "dxva2", table_owner.device(), the_run.long_run ? 300 : 6,
        [&table_owner] {
            return fail_calls<&IDirect3DDevice9::CreateAdditionalSwapChain>(
                table_owner.device(), E_OUTOFMEMORY, [](int) { return true; });
        },
        {swap_chain_failed,
         "1 backend rebuild keeps failing, frames dropped, retrying every 250 ms\n"},
        true);
}

// Surfaces lost over and over: a blit reports the loss, Restore fails for a few frames
// (dropped), then the picture comes back without a rebuild.
void ddraw_loss_storm()
{
    storm_path path("ddraw");
    int n = 0;
    check(path.start() && path.draws_within(n, 2), "DirectDraw: the first frames");
    IDirectDrawSurface2* table_owner = make_ddraw_surface2();
    bool lose = false, stuck = false;
    auto losing = fail_calls<&IDirectDrawSurface2::Blt>(table_owner, DDERR_SURFACELOST,
                                                        [&](int) { return lose; });
    auto refusing = fail_calls<&IDirectDrawSurface2::Restore>(table_owner, DDERR_WRONGMODE,
                                                              [&](int) { return stuck; });
    log_capture logs;
    const std::vector<std::string> lines = {
        code_text("1 Blt rgb_offscreen_surface_ error!result:%p\n", DDERR_SURFACELOST)};
    for (int loss = 0; loss < (the_run.long_run ? 20000 : 160); ++loss, ++the_run.runs) {
        const std::string where = "DirectDraw, loss " + std::to_string(loss);
        logs.clear();
        lose = true;
        path.frame(n++);
        lose = false;
        stuck = true;
        for (int i = static_cast<int>(the_run.random.below(3)); i >= 0; --i, ++the_run.dropped)
            check(!path.frame(n++), where + ": a frame drawn before the surfaces came back");
        stuck = false;
        check(path.draws_within(n, 2), where + ": no frame drawn after the surfaces came back");
        check(errors(logs) == lines, where + ": the loss's lines");
    }
    losing.reset();
    refusing.reset();
    table_owner->Release();
}

// The decoder's device removed for stretches (Present says so, then the device): frames dropped
// with one line for the removal and one where the failing rebuilds start, drawing resumes.
void d3d11_removal_storm()
{
    storm_path path("d3d11");
    path.check_counts();
    int n = 0;
    check(path.start() && path.draws_within(n, 2), "Direct3D 11: the first frames");
    // A swap chain of the storm's own shares its method table with the library's.
    test_window own_window(64, 64);
    DXGI_SWAP_CHAIN_DESC desc = {};
    desc.BufferDesc.Format = DXGI_FORMAT_B8G8R8A8_UNORM;
    desc.SampleDesc.Count = desc.BufferCount = 1;
    desc.BufferUsage = DXGI_USAGE_RENDER_TARGET_OUTPUT;
    desc.OutputWindow = own_window.handle();
    desc.Windowed = TRUE;
    IDXGIFactory* factory = nullptr;
    ID3D11Device* device = nullptr;
    IDXGISwapChain* table_owner = nullptr;
    CreateDXGIFactory(__uuidof(IDXGIFactory), reinterpret_cast<void**>(&factory));
    D3D11CreateDevice(nullptr, D3D_DRIVER_TYPE_HARDWARE, nullptr, 0, nullptr, 0, D3D11_SDK_VERSION,
                      &device, nullptr, nullptr);
    factory->CreateSwapChain(device, &desc, &table_owner);
    factory->Release();
    bool removed = false;
    auto presenting = fail_calls<&IDXGISwapChain::Present>(table_owner, DXGI_ERROR_DEVICE_REMOVED,
                                                           [&](int) { return removed; });
    auto asking = fail_calls<&ID3D11Device::GetDeviceRemovedReason>(
        device, DXGI_ERROR_DEVICE_REMOVED, [&](int) { return removed; });
    log_capture logs;
    const std::vector<std::string> lines = {
        code_text("1 d3d11 device removed or reset, %x \n", DXGI_ERROR_DEVICE_REMOVED),
        "1 backend rebuild keeps failing, frames dropped, retrying every 250 ms\n"};
    for (int stretch = 0; stretch < (the_run.long_run ? 300 : 12); ++stretch, ++the_run.runs) {
        const std::string where = "Direct3D 11, stretch " + std::to_string(stretch);
        logs.clear();
        removed = true;
        path.frame(n++); // drawn, then Present answers that the device was removed
        const long copies = path.copies();
        for (int i = 2 + static_cast<int>(the_run.random.below(3)); i > 0; --i, ++the_run.dropped)
            path.frame(n++);
        check(path.copies() == copies, where + ": a frame drawn on a removed device");
        removed = false;
        check(path.draws_within(n, 30, 20), where + ": no frame drawn after the stretch");
        check(path.lock_balanced(), where + ": the decoder's lock is held");
        check(errors(logs) == lines, where + ": the lines (first: " + errors(logs).front() + ")");
    }
    presenting.reset();
    asking.reset();
    path.stop();
    table_owner->Release();
    device->Release();
    path.check_counts();
}

// Creation calls failing, one table for the three backends and the front's capability check:
// the failing call, the exact level-1 lines the initialisation logs (codes written in), and how
// it ends. "degraded": it reports success without all the picture needs; whether the picture
// shows is up to the platform, and a clean initialisation after it must show it.
enum class outcome { fails, draws, degraded };
struct creation_case {
    const char* path; // software frames draw with DirectDraw beside the stand-in d3d9.dll
    const char* call;
    std::function<std::shared_ptr<void>()> fail;
    std::vector<std::string> lines;
    outcome ends;
};

// The platform objects whose method tables the library's objects share.
struct table_owners {
    table_owners()
    {
        if (SUCCEEDED(Direct3DCreate9Ex(D3D_SDK_VERSION, &d3d9ex)))
            d3d9ex->QueryInterface(__uuidof(IDirect3D9), reinterpret_cast<void**>(&d3d9));
        D3D_FEATURE_LEVEL level = D3D_FEATURE_LEVEL_11_0;
        D3D11CreateDevice(nullptr, D3D_DRIVER_TYPE_HARDWARE, nullptr, 0, &level, 1,
                          D3D11_SDK_VERSION, &d3d11, nullptr, nullptr);
        CreateDXGIFactory(__uuidof(IDXGIFactory), reinterpret_cast<void**>(&factory));
        IDirectDraw* first = nullptr;
        if (SUCCEEDED(DirectDrawCreate(nullptr, &first, nullptr))) {
            first->QueryInterface(IID_IDirectDraw2, reinterpret_cast<void**>(&ddraw));
            first->Release();
        }
    }
    ~table_owners()
    {
        for (IUnknown* object :
             std::initializer_list<IUnknown*>{d3d9ex, d3d9, d3d11, factory, ddraw})
            if (object)
                object->Release();
    }
    IDirect3D9Ex* d3d9ex = nullptr;
    IDirect3D9* d3d9 = nullptr;
    ID3D11Device* d3d11 = nullptr;
    IDXGIFactory* factory = nullptr;
    IDirectDraw2* ddraw = nullptr;
    fake_dxva2_decoder decoder; // a Direct3D 9 device
};

std::vector<creation_case> direct3d_cases(const table_owners& t)
{
    using o = outcome;
    const HRESULT oom = E_OUTOFMEMORY, vram = D3DERR_OUTOFVIDEOMEMORY;
    const std::string ex_failed = code_text("1 CreateDeviceEx error,code:%p!\n", vram);
    const std::string ex_fallback = "1 CreateDeviceEx error!Try CreateDevice...\n";
    return {
        // The capability check finds no Direct3D 9: software frames go to DirectDraw.
        {"software",
         "Direct3DCreate9Ex",
         import_refused("d3d9.dll", "Direct3DCreate9Ex",
                        refused<D3DERR_NOTAVAILABLE, UINT, IDirect3D9Ex**>),
         {code_text("1 Check D3D9 Failed:%p\n", D3DERR_NOTAVAILABLE)},
         o::draws},
        {"software",
         "IDirect3D9Ex::CreateDeviceEx",
         first_fails<&IDirect3D9Ex::CreateDeviceEx>(t.d3d9ex, vram),
         {ex_failed, ex_fallback},
         o::draws},
        {"software",
         "IDirect3D9Ex::CreateDeviceEx and IDirect3D9::CreateDevice",
         [&t, vram] {
             auto ex = first_fails<&IDirect3D9Ex::CreateDeviceEx>(t.d3d9ex, vram)();
             auto plain = first_fails<&IDirect3D9::CreateDevice>(t.d3d9, vram)();
             return std::make_shared<std::pair<decltype(ex), decltype(plain)>>(ex, plain);
         },
         {ex_failed, ex_fallback, code_text("1 CreateDevice error,code:%p!\n", vram),
          "1 CreateDevice error too!\n"},
         o::fails},
        {"dxva2",
         "D3DXCreateSprite",
         import_refused("kernel32.dll", "GetProcAddress", lookup_with_refused_sprite),
         {},
         o::draws},
        {"d3d11",
         "IDXGIFactory::CreateSwapChain",
         first_fails<&IDXGIFactory::CreateSwapChain>(t.factory, oom),
         {code_text("1 create swap chain failed, %x \n", oom)},
         o::fails},
        {"d3d11",
         "ID3D11Device::CreateSamplerState",
         first_fails<&ID3D11Device::CreateSamplerState>(t.d3d11, oom),
         {code_text("1 ID3D11Device::CreateSamplerState(POINT) failed, %x ", oom)},
         o::fails},
        {"d3d11",
         "ID3D11Device::CreatePixelShader",
         first_fails<&ID3D11Device::CreatePixelShader>(t.d3d11, oom),
         {code_text("1 init_pixel_shader failed, %x \n", oom)},
         o::degraded},
    };
}

// Beside the stand-in d3d9.dll every capability check logs Direct3D 9 missing first.
std::vector<creation_case> ddraw_cases(const table_owners& t)
{
    const std::string no_d3d9 = code_text("1 Check D3D9 Failed:%p\n", D3DERR_NOTAVAILABLE);
    return {
        {"software",
         "DirectDrawCreate",
         import_refused("ddraw.dll", "DirectDrawCreate",
                        refused<DDERR_NODIRECTDRAWHW, GUID*, IDirectDraw**, IUnknown*>),
         {no_d3d9, "1 init_vrender erro of render_mng_ null!\n"},
         outcome::fails},
        {"software",
         "IDirectDraw2::CreateSurface",
         first_fails<&IDirectDraw2::CreateSurface>(t.ddraw, DDERR_OUTOFMEMORY),
         {no_d3d9, "1 CreateSurface main surface error!\n"},
         outcome::fails},
    };
}

// After each run the renderer must draw (through a clean initialisation where the faulty one
// failed) and the decoder's borrowed objects keep their counts.
void run_case(const creation_case& row)
{
    const std::string where = std::string(row.call) + " failing";
    storm_path path(row.path);
    path.check_counts();
    log_capture logs;
    bool ok = false;
    {
        std::shared_ptr<void> failing = row.fail();
        ok = path.start();
    }
    check(ok == (row.ends != outcome::fails), where + ": the initialisation's result");
    check(errors(logs) == (row.lines.empty() ? std::vector<std::string>{"none"} : row.lines),
          where + ": the lines (first: " + errors(logs).front() + ")");
    int n = 0;
    if (row.ends == outcome::degraded && !path.draws_within(n, 2))
        ok = false;
    if (!ok)
        check(path.start(), where + ": a clean initialisation after it");
    check(path.draws_within(n, 2), where + ": no frame drawn after it");
    path.stop();
    path.check_counts();
    ++the_run.runs;
}

void creation_storms()
{
    table_owners owners;
    for (int round = 0; round < (the_run.long_run ? 25 : 1); ++round)
        for (const creation_case& row :
             the_run.ddraw_only ? ddraw_cases(owners) : direct3d_cases(owners))
            if (the_run.ddraw_only ||
                wanted(std::strcmp(row.path, "d3d11") == 0 ? "d3d11" : "d3d9"))
                run_case(row);
}

} // namespace

int run_storm(int argc, char** argv)
{
    std::string part = "all";
    for (int i = 0; i < argc; ++i) {
        const std::string name = argv[i];
        if (name == "--long")
            the_run.long_run = true;
        else if (name == "--seed" && i + 1 < argc)
            the_run.seed = static_cast<uint32_t>(std::strtoul(argv[++i], nullptr, 10));
        else if ((name == "--part" || name == "--backend") && i + 1 < argc)
            (name == "--part" ? part : the_run.backend) = argv[++i];
        else
            return std::fprintf(stderr, "usage: storm [--long] [--seed N] [--part "
                                        "losses|creation] [--backend d3d9|d3d11|ddraw]\n"),
                   2;
    }
    the_run.random = seeded_random(the_run.seed);
    run_report::set_replay("vrender_reliability storm --seed " + std::to_string(the_run.seed) +
                           " --part " + part + " --backend " + the_run.backend +
                           (the_run.long_run ? " --long" : ""));
    IDirect3D9Ex* d3d9 = nullptr;
    the_run.ddraw_only = FAILED(Direct3DCreate9Ex(D3D_SDK_VERSION, &d3d9)) || !d3d9;
    if (d3d9)
        d3d9->Release();
    if (part != "creation" && the_run.ddraw_only)
        ddraw_loss_storm();
    if (part != "creation" && !the_run.ddraw_only && wanted("d3d9"))
        d3d9_loss_storms();
    if (part != "creation" && !the_run.ddraw_only && wanted("d3d11"))
        d3d11_removal_storm();
    if (part != "losses")
        creation_storms();
    print_summary(0);
    return 0;
}
