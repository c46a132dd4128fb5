#include "harness.h"

#include <d3d11.h>
#include <d3d9.h>
#include <psapi.h>
#include <tlhelp32.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <thread>
#include <vector>

#include "com_patch.h"
#include "d3d11_fake_decoder.h"
#include "d3d11_readback.h"
#include "fake_dxva2_decoder.h"
#include "test_picture.h"

// ---- Crash and hang reports ---------------------------------------------------------------

namespace {

std::string g_replay = "(no replay)";
char g_call[1024] = "(before the first call)";
std::atomic<ULONGLONG> g_call_started{0}; // GetTickCount64() + 1; 0 between calls

[[noreturn]] void end_with(int status)
{
    std::fprintf(stderr, "reliability: the call: %s\nreliability: replay with %s\n", g_call,
                 g_replay.c_str());
    std::fflush(stdout);
    std::fflush(stderr);
    TerminateProcess(GetCurrentProcess(), status);
    std::abort();
}

LONG WINAPI report_crash(EXCEPTION_POINTERS* info)
{
    const EXCEPTION_RECORD* record = info->ExceptionRecord;
    HMODULE module = nullptr;
    char path[MAX_PATH] = "?";
    if (GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                           static_cast<char*>(record->ExceptionAddress), &module))
        GetModuleFileNameA(module, path, sizeof(path));
    std::fprintf(stderr, "reliability: CRASH, exception 0x%08lx in %s+0x%llx\n",
                 record->ExceptionCode, path,
                 static_cast<unsigned long long>(static_cast<char*>(record->ExceptionAddress) -
                                                 reinterpret_cast<char*>(module)));
    MEMORY_BASIC_INFORMATION page = {};
    const auto* address = reinterpret_cast<void*>(record->ExceptionInformation[1]);
    if (record->ExceptionCode == EXCEPTION_ACCESS_VIOLATION &&
        VirtualQuery(address, &page, sizeof(page)) && page.State == MEM_COMMIT &&
        page.Protect == PAGE_NOACCESS)
        std::fprintf(stderr, "reliability: %p is past the end of a buffer handed to the library\n",
                     address);
    end_with(2);
}

void report_abort(int)
{
    std::fprintf(stderr, "reliability: CRASH, abort()\n");
    end_with(2);
}

} // namespace

void run_report::install()
{
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    SetUnhandledExceptionFilter(report_crash);
    std::set_terminate([] { report_abort(0); });
    // Wine's own DLLs abort through ucrtbase, this program through msvcrt.
    using signal_function = void (*(*)(int, void (*)(int)))(int);
    for (const char* runtime : {"msvcrt.dll", "ucrtbase.dll"})
        if (auto install = reinterpret_cast<signal_function>(
                reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA(runtime), "signal"))))
            install(SIGABRT, report_abort);
}

void run_report::set_replay(const std::string& command)
{
    g_replay = command;
}

void run_report::begin_call(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::vsnprintf(g_call, sizeof(g_call), format, args);
    va_end(args);
    g_call_started = GetTickCount64() + 1;
}

void run_report::end_call()
{
    g_call_started = 0;
}

void run_report::watch_hangs(int seconds)
{
    std::thread([seconds] {
        for (ULONGLONG started = 0;; Sleep(100))
            if ((started = g_call_started.load()) &&
                GetTickCount64() + 1 - started > seconds * 1000ull) {
                std::fprintf(stderr, "reliability: HANG, the call has run for %d s\n", seconds);
                end_with(4);
            }
    }).detach();
}

void run_report::fail(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::fprintf(stderr, "reliability: FAILED: ");
    std::vfprintf(stderr, format, args);
    std::fprintf(stderr, "\n");
    va_end(args);
    end_with(1);
}

guarded_buffer::guarded_buffer(size_t bytes)
{
    const size_t usable = (bytes + 4095) / 4096 * 4096;
    base_ = static_cast<uint8_t*>(
        VirtualAlloc(nullptr, usable + 4096, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    DWORD old = 0;
    if (base_ && VirtualProtect(base_ + usable, 4096, PAGE_NOACCESS, &old))
        data_ = base_ + usable - bytes;
}

// ---- Process gauges -----------------------------------------------------------------------
// Under Wine GetGuiResources, GetProcessHandleCount and PrivateUsage give 0: the gauges walk
// Wine's GDI table (a bare index names an entry), the handle values and the heaps instead.

namespace {

struct own_window {
    HWND window;
    DWORD thread;
    bool wined3d;
    bool ime;
};

BOOL CALLBACK add_window(HWND window, LPARAM list)
{
    DWORD process = 0;
    const DWORD thread = GetWindowThreadProcessId(window, &process);
    char name[64] = "";
    GetClassNameA(window, name, sizeof(name));
    if (process == GetCurrentProcessId())
        reinterpret_cast<std::vector<own_window>*>(list)->push_back(
            {window, thread, std::strcmp(name, "WineD3D_OpenGL") == 0,
             std::strcmp(name, "IME") == 0});
    return TRUE;
}

// Wine's helpers: wined3d's fallback windows, and the IME window of a thread that has no other
// window (Wine keeps it while the thread lives).
bool is_helper(const own_window& entry, const std::vector<own_window>& all)
{
    return entry.wined3d ||
           (entry.ime && std::none_of(all.begin(), all.end(), [&](auto& other) {
                return other.thread == entry.thread && !other.wined3d && !other.ime;
            }));
}

uint64_t live_heap_kb()
{
    HANDLE heaps[256];
    const DWORD count = std::min<DWORD>(GetProcessHeaps(256, heaps), 256);
    uint64_t live = 0;
    for (DWORD i = 0; i < count; ++i) {
        PROCESS_HEAP_ENTRY entry = {};
        HeapLock(heaps[i]);
        while (HeapWalk(heaps[i], &entry))
            live += (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) ? entry.cbData : 0;
        HeapUnlock(heaps[i]);
    }
    return live / 1024;
}

uint64_t thread_count()
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof(entry);
    uint64_t count = 0;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
        count += entry.th32OwnerProcessID == GetCurrentProcessId();
    CloseHandle(snapshot);
    return count;
}

// Handle values are multiples of 4 handed out lowest first: a long run of misses is the end.
uint64_t handle_count()
{
    uint64_t found = 0;
    DWORD flags = 0;
    for (uintptr_t value = 4, misses = 0; misses < 256; value += 4) {
        const bool handle = GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags);
        found += handle;
        misses = handle ? 0 : misses + 1;
    }
    return found;
}

DWORD WINAPI wait_for(void* event)
{
    return WaitForSingleObject(event, INFINITE);
}

} // namespace

const char* gauge_name(int which)
{
    static const char* const names[gauge_count] = {"memory_kb", "heap_kb", "handles",
                                                   "gdi",       "user",    "threads"};
    return names[which];
}

gauge_reading read_gauges()
{
    gauge_reading reading;
    PROCESS_MEMORY_COUNTERS memory = {};
    GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof(memory));
    reading.value[gauge_memory_kb] = memory.PagefileUsage / 1024;
    reading.value[gauge_heap_kb] = live_heap_kb();
    reading.value[gauge_handles] = handle_count();
    reading.value[gauge_threads] = thread_count();
    std::vector<own_window> windows;
    EnumWindows(add_window, reinterpret_cast<LPARAM>(&windows));
    for (size_t i = 0, tops = windows.size(); i < tops; ++i)
        EnumChildWindows(windows[i].window, add_window, reinterpret_cast<LPARAM>(&windows));
    reading.value[gauge_user] =
        windows.size() - std::count_if(windows.begin(), windows.end(),
                                       [&](auto& w) { return is_helper(w, windows); });
    // Wine's own GDI objects: the DCs it holds for its fallback windows and, once it has fallen
    // back, on the desktop (never handed to the renderer), each with its visible region.
    const bool fallen_back =
        std::any_of(windows.begin(), windows.end(), [](auto& w) { return w.wined3d; });
    uint64_t objects = 0, wine_dcs = 0;
    for (uintptr_t index = 1; index < 0x10000; ++index) {
        const DWORD type = GetObjectType(reinterpret_cast<HGDIOBJ>(index));
        objects += type != 0;
        const HWND owner =
            type == OBJ_DC && fallen_back ? WindowFromDC(reinterpret_cast<HDC>(index)) : nullptr;
        wine_dcs += owner && (owner == GetDesktopWindow() ||
                              std::any_of(windows.begin(), windows.end(), [&](auto& w) {
                                  return w.window == owner && is_helper(w, windows);
                              }));
    }
    reading.value[gauge_gdi] = objects - 2 * wine_dcs;
    return reading;
}

namespace {

std::string blind_spots_once()
{
    const gauge_reading before = read_gauges();
    HANDLE stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    auto* touched = static_cast<char*>(
        VirtualAlloc(nullptr, 16 << 20, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    for (size_t offset = 0; offset < (16 << 20); offset += 4096)
        touched[offset] = 1;
    std::vector<void*> blocks, events, pens, threads;
    std::vector<HWND> windows;
    for (int i = 0; i < 16; ++i) {
        blocks.push_back(HeapAlloc(GetProcessHeap(), 0, 64 << 10));
        events.push_back(CreateEventA(nullptr, FALSE, FALSE, nullptr));
        pens.push_back(CreatePen(PS_SOLID, 1, 0));
        windows.push_back(CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 8, 8, nullptr, nullptr,
                                          nullptr, nullptr));
        threads.push_back(CreateThread(nullptr, 0, wait_for, stop, 0, nullptr));
    }
    const gauge_reading during = read_gauges();
    SetEvent(stop);
    for (int i = 0; i < 16; ++i) {
        HeapFree(GetProcessHeap(), 0, blocks[i]);
        CloseHandle(events[i]);
        DeleteObject(pens[i]);
        DestroyWindow(windows[i]);
        WaitForSingleObject(threads[i], INFINITE);
        CloseHandle(threads[i]);
    }
    VirtualFree(touched, 0, MEM_RELEASE);
    CloseHandle(stop);
    const uint64_t made[gauge_count] = {16 << 10, 16 * 64, 16, 16, 16, 16};
    std::string blind;
    for (int g = 0; g < gauge_count; ++g)
        blind +=
            during.value[g] >= before.value[g] + made[g] ? "" : std::string(" ") + gauge_name(g);
    return blind;
}

} // namespace

// The process's other threads allocate and free as well: a gauge has three chances.
std::string gauges_blind_spots()
{
    std::string blind = blind_spots_once();
    for (int attempt = 1; attempt < 3 && !blind.empty(); ++attempt)
        blind = blind_spots_once();
    return blind;
}

// ---- Frame sources ------------------------------------------------------------------------

namespace {

std::string refs(const char* name, IUnknown* object)
{
    return std::string(",") + name + ":" + std::to_string(reference_count(object));
}

bool close_to(int got, int want)
{
    return std::abs(got - want) <= 8;
}

// Black and white, whatever the colour class: limited-range Y 16 is black and 235 white.
class software_source final : public frame_source {
  public:
    software_source()
    {
        for (test_picture* picture : {&black_, &white_})
            picture->frame.colorspace = ffmpeg_ids::colorspace_bt709;
    }
    kx_pixel_fmt format() const override { return kx_pix_fmt_yuv420p; }
    AVFrame* frame(int index) override { return &(index & 2 ? white_ : black_).frame; }
    uint32_t colour(int index) const override { return index & 2 ? 0xFFFFFF : 0; }

  private:
    test_picture black_{width, height, 16, 128, 128};
    test_picture white_{width, height, 235, 128, 128};
};

// A DXVA2 decoder's device with two decoded surfaces of flat colours.
class dxva2_source final : public frame_source {
  public:
    dxva2_source()
    {
        for (auto* colour_at :
             {+[](int, int) { return 0xE08020u; }, +[](int, int) { return 0x2090A0u; }})
            if (IDirect3DSurface9* surface =
                    decoder_.ready() ? decoder_.make_surface(width, height, colour_at) : nullptr) {
                surfaces_.push_back(surface);
                frames_.push_back(decoder_.frame_of(surface));
            }
        problem = surfaces_.size() == 2
                      ? ""
                      : "the decoder's Direct3D 9 device or surfaces could not be made";
    }
    ~dxva2_source() override
    {
        std::for_each(surfaces_.begin(), surfaces_.end(), [](auto* s) { s->Release(); });
    }
    kx_pixel_fmt format() const override { return kx_pix_fmt_dxva2_vld; }
    AVCodecContext* codec_context() override { return decoder_.codec_context(); }
    AVFrame* frame(int index) override { return &frames_[index >> 1 & 1]; }
    uint32_t colour(int index) const override { return index & 2 ? 0x2090A0 : 0xE08020; }
    std::string borrowed() const override
    {
        std::string text = refs("device", decoder_.device()) + refs("d3d9", decoder_.d3d9());
        for (IDirect3DSurface9* surface : surfaces_)
            text += refs("surface", surface);
        return text.substr(1);
    }

  private:
    fake_dxva2_decoder decoder_;
    std::vector<IDirect3DSurface9*> surfaces_;
    std::vector<AVFrame> frames_;
};

// A D3D11VA decoder's texture array of two flat lumas; its device stands R8 and R8G8 textures
// in for the NV12 texture that Wine refuses, their chroma neutral. The device lock only counts.
// The backend has no draw callback: what it drew is read from the target it leaves bound.
class d3d11_source final : public frame_source {
  public:
    d3d11_source()
    {
        decoder_.fill_luma(0, [](int, int) -> uint8_t { return 40; });
        decoder_.fill_luma(1, [](int, int) -> uint8_t { return 200; });
        decoder_.hwctx()->lock = [](void* self) { ++static_cast<d3d11_source*>(self)->locks_; };
        decoder_.hwctx()->unlock = [](void* self) { ++static_cast<d3d11_source*>(self)->unlocks_; };
        decoder_.hwctx()->lock_ctx = this;
        problem = decoder_.ready() ? "" : "the decoder's Direct3D 11 device could not be made";
    }
    kx_pixel_fmt format() const override { return kx_pix_fmt_d3d11; }
    AVCodecContext* codec_context() override { return decoder_.codec_context(); }
    AVFrame* frame(int index) override
    {
        decoder_.fill_chroma(128, 128); // the stand-in of the backend as it stands
        frame_ = decoder_.frame_of(index >> 1 & 1);
        return &frame_;
    }
    uint32_t colour(int index) const override
    {
        return ((index & 2 ? 200 : 40) - 16) * 255 / 219 * 0x010101u;
    }
    bool shows(int index, const captured_picture&) override
    {
        const texture_pixels shown = read_bound_target(decoder_.context());
        return !shown.empty() &&
               close_to(shown.green(shown.width / 2, shown.height / 2), colour(index) & 0xFF);
    }
    long copies() const override { return locks_; }
    bool lock_balanced() const override { return locks_ == unlocks_; }
    void let_go() override { decoder_.release_standins(); }
    std::string borrowed() const override
    {
        return (refs("device", decoder_.device()) + refs("context", decoder_.context()) +
                refs("texture", decoder_.texture()))
            .substr(1);
    }

  private:
    fake_d3d11_decoder decoder_{width, height, 2};
    AVFrame frame_ = {};
    long locks_ = 0;
    long unlocks_ = 0;
};

} // namespace

bool frame_source::shows(int index, const captured_picture& drawn)
{
    const uint32_t want = colour(index);
    const int x = drawn.width / 2, y = drawn.height / 2;
    return !drawn.empty() && close_to(drawn.red(x, y), want >> 16 & 0xFF) &&
           close_to(drawn.green(x, y), want >> 8 & 0xFF) && close_to(drawn.blue(x, y), want & 0xFF);
}

std::unique_ptr<frame_source> make_frame_source(const std::string& kind)
{
    if (kind == "software" || kind == "d3d9" || kind == "ddraw")
        return std::make_unique<software_source>();
    if (kind == "dxva2")
        return std::make_unique<dxva2_source>();
    return kind == "d3d11" ? std::make_unique<d3d11_source>() : nullptr;
}

// ---- Overlay lists ------------------------------------------------------------------------

namespace {

constexpr uint32_t units = 10000;
// A player's labels first, then what only a hostile caller sends.
const char* const words[] = {"cam 12",           "gate",        "A-7", "zone", "%s%n%x",
                             "\xd6\xd0\xce\xc4", "line\nbreak", ""};

uint32_t usual_or_extreme(seeded_random& random, bool hostile, uint32_t usual)
{
    return hostile && random.percent(15)
               ? random.pick<uint32_t>({0, 1, 0x7FFFFFFFu, UINT32_MAX, random.bits()})
               : usual;
}

overlay_entry random_entry(seeded_random& random, bool hostile)
{
    auto value = [&](uint32_t usual) { return usual_or_extreme(random, hostile, usual); };
    overlay_entry entry;
    entry.kind = value(random.below(2));
    // Zones are at least a tenth of the picture on each side: Wine's Arc corrupts the heap when
    // a PS_INSIDEFRAME pen is wider than the ellipse is tall.
    const bool zone = entry.kind == overlay_kind_figure && random.percent(40);
    const uint32_t x = random.below(units / 2), y = random.below(units / 2);
    const uint32_t right = x + units / 10 + random.below(units / 2),
                   bottom = y + units / 10 + random.below(units / 2);
    if (zone)
        entry.points = {{x, y, units, units},
                        {right, y, units, units},
                        {right, bottom, units, units},
                        {x, bottom, units, units}};
    for (uint32_t i = zone ? 0 : 1 + random.below(hostile && random.percent(5) ? 400 : 6); i > 0;
         --i)
        entry.points.push_back(
            {value(random.below(units)), value(random.below(units)), value(units), value(units)});
    entry.text = hostile && random.percent(5) ? std::string(random.below(1000), 'W')
                                              : words[random.below(hostile ? 8 : 4)];
    entry.scale_to_reference = random.percent(25);
    // A player's texts come in a handful of sizes, and the renderers keep a font for each.
    entry.font_size = value(entry.scale_to_reference ? random.pick({450u, 600u, 900u})
                                                     : random.pick({12u, 16u, 20u, 28u}));
    entry.text_color = random.bits() & 0xFFFFFF;
    entry.line_color = random.percent(30) ? 0x00FF0000 : random.bits() & 0xFFFFFF;
    entry.line_width = zone ? 1 + random.below(4) : value(1 + random.below(4));
    entry.border = random.percent(50);
    entry.closed = random.percent(50);
    entry.highlight = random.percent(50);
    entry.inner_ellipses = zone && random.percent(50);
    entry.direction_mark = value(random.below(4));
    entry.ellipse_layout = value(random.below(3));
    entry.h_align = value(random.below(4));
    entry.v_align = value(random.below(4));
    return entry;
}

} // namespace

std::list<overlay_group> random_overlays(seeded_random& random, bool hostile)
{
    std::list<overlay_group> groups(random.below(7));
    int id = 0;
    for (overlay_group& group : groups) {
        group.id = hostile && random.percent(10) ? static_cast<int32_t>(random.bits()) : ++id;
        for (uint32_t i = 1 + random.below(hostile ? 8 : 4); i > 0; --i)
            group.entries.push_back(random_entry(random, hostile));
    }
    return groups;
}
