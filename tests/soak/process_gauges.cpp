#include "process_gauges.h"

#include <windows.h>

#include <psapi.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <vector>

namespace {

constexpr int probe_objects = 16;
constexpr int probe_windows = 2;
constexpr size_t probe_bytes = 16 << 20;

PROCESS_MEMORY_COUNTERS_EX memory_counters()
{
    PROCESS_MEMORY_COUNTERS_EX counters = {};
    counters.cb = sizeof(counters);
    GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                         sizeof(counters));
    return counters;
}

uint32_t system_handle_count()
{
    DWORD count = 0;
    GetProcessHandleCount(GetCurrentProcess(), &count);
    return count;
}

// Handle values are multiples of 4 handed out lowest first, so the table is dense: a long run
// of values that are not handles is its end.
uint32_t probed_handle_count()
{
    uint32_t found = 0;
    int misses = 0;
    for (uintptr_t value = 4; misses < 256; value += 4) {
        DWORD flags = 0;
        if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) {
            ++found;
            misses = 0;
        } else {
            ++misses;
        }
    }
    return found;
}

// ---- Wine's own windows ------------------------------------------------------------------

// The class of the hidden windows wined3d falls back to when it cannot draw into a swap
// chain's window.
constexpr char wined3d_window_class[] = "WineD3D_OpenGL";

struct own_window {
    HWND window;
    DWORD thread;
    bool wined3d;
    bool ime;
    bool wine_helper;
};

bool class_is(HWND window, const char* name)
{
    char found[64] = "";
    GetClassNameA(window, found, sizeof(found));
    return std::strcmp(found, name) == 0;
}

void add_window(HWND window, std::vector<own_window>& windows)
{
    const DWORD thread = GetWindowThreadProcessId(window, nullptr);
    windows.push_back(
        {window, thread, class_is(window, wined3d_window_class), class_is(window, "IME"), false});
}

BOOL CALLBACK add_child(HWND window, LPARAM windows)
{
    add_window(window, *reinterpret_cast<std::vector<own_window>*>(windows));
    return TRUE;
}

BOOL CALLBACK add_own_window(HWND window, LPARAM windows)
{
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process == GetCurrentProcessId()) {
        add_window(window, *reinterpret_cast<std::vector<own_window>*>(windows));
        EnumChildWindows(window, add_child, windows);
    }
    return TRUE;
}

// The process's windows (top-level and children), with Wine's helpers marked: wined3d's
// fallback windows, and the Default IME window of a thread that has no window of its own (Wine
// gives each thread that makes a window one, and keeps it as long as the thread lives).
std::vector<own_window> own_windows()
{
    std::vector<own_window> windows;
    EnumWindows(add_own_window, reinterpret_cast<LPARAM>(&windows));
    for (own_window& entry : windows) {
        const bool thread_has_windows =
            std::any_of(windows.begin(), windows.end(), [&entry](const own_window& other) {
                return other.thread == entry.thread && !other.wined3d && !other.ime;
            });
        entry.wine_helper = entry.wined3d || (entry.ime && !thread_has_windows);
    }
    return windows;
}

// Windows are the USER objects a renderer could leak; menus, cursors and hooks it has none of.
uint32_t own_window_count()
{
    const std::vector<own_window> windows = own_windows();
    return static_cast<uint32_t>(std::count_if(windows.begin(), windows.end(),
                                               [](const own_window& w) { return !w.wine_helper; }));
}

struct gdi_census {
    uint32_t objects = 0;
    uint32_t wine_objects = 0;
};

// Wine's GDI handle table is in the process; a bare table index names its entry. Wine's own
// objects are the DCs held for its fallback windows and, once wined3d has fallen back, those held
// on the desktop (the renderer is never handed the desktop; each fallback leaves one there),
// each with the visible region Wine keeps for it. A held DC may be one the cache had spare at the
// warm-up: the count that is judged then drops by two, which a leak has to make up first.
gdi_census take_gdi_census(const std::vector<own_window>& windows)
{
    const bool fallen_back =
        std::any_of(windows.begin(), windows.end(), [](const own_window& w) { return w.wined3d; });
    const HWND desktop = GetDesktopWindow();
    gdi_census census;
    uint32_t wine_dcs = 0;
    for (uintptr_t index = 1; index < 0x10000; ++index) {
        const auto object = reinterpret_cast<HGDIOBJ>(index);
        const DWORD type = GetObjectType(object);
        if (!type)
            continue;
        ++census.objects;
        if (type != OBJ_DC || !fallen_back)
            continue;
        const HWND owner = WindowFromDC(static_cast<HDC>(object));
        wine_dcs += owner == desktop ||
                    std::any_of(windows.begin(), windows.end(), [owner](const own_window& w) {
                        return w.window == owner && w.wine_helper;
                    });
    }
    census.wine_objects = 2 * wine_dcs;
    return census;
}

uint32_t probed_gdi_count()
{
    const gdi_census census = take_gdi_census(own_windows());
    return census.objects - census.wine_objects;
}

// What the process has allocated and not freed: heaps only grow their pages, and Wine's and
// Mesa's allocators touch new pages for thousands of frames, but the live blocks show a leak at
// once.
uint64_t live_heap_bytes()
{
    HANDLE heaps[256];
    const DWORD count = GetProcessHeaps(256, heaps);
    uint64_t live = 0;
    for (DWORD i = 0; i < count && i < 256; ++i) {
        if (!HeapLock(heaps[i]))
            continue;
        PROCESS_HEAP_ENTRY entry = {};
        while (HeapWalk(heaps[i], &entry))
            if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY)
                live += entry.cbData;
        HeapUnlock(heaps[i]);
    }
    return live;
}

uint32_t thread_count()
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return 0;
    uint32_t count = 0;
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
        count += entry.th32OwnerProcessID == GetCurrentProcessId();
    CloseHandle(snapshot);
    return count;
}

using release_fn = std::function<void()>;

// True when `counter` rises by at least `expected` while the objects of `make` are alive.
bool counter_follows(const std::function<uint64_t()>& counter, uint64_t expected,
                     const std::function<release_fn()>& make)
{
    const uint64_t before = counter();
    const release_fn release = make();
    const uint64_t during = counter();
    release();
    return during >= before + expected;
}

release_fn make_touched_memory()
{
    auto* block = static_cast<char*>(
        VirtualAlloc(nullptr, probe_bytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    for (size_t offset = 0; block && offset < probe_bytes; offset += 4096)
        block[offset] = 1;
    return [block] { VirtualFree(block, 0, MEM_RELEASE); };
}

release_fn make_heap_blocks()
{
    std::vector<void*> blocks;
    for (int i = 0; i < probe_objects; ++i)
        blocks.push_back(HeapAlloc(GetProcessHeap(), 0, 64 << 10));
    return [blocks] {
        for (void* block : blocks)
            HeapFree(GetProcessHeap(), 0, block);
    };
}

release_fn make_events()
{
    std::vector<HANDLE> events;
    for (int i = 0; i < probe_objects; ++i)
        events.push_back(CreateEventA(nullptr, FALSE, FALSE, nullptr));
    return [events] {
        for (HANDLE event : events)
            CloseHandle(event);
    };
}

release_fn make_pens()
{
    std::vector<HPEN> pens;
    for (int i = 0; i < probe_objects; ++i)
        pens.push_back(CreatePen(PS_SOLID, 1, static_cast<COLORREF>(i)));
    return [pens] {
        for (HPEN pen : pens)
            DeleteObject(pen);
    };
}

release_fn make_windows()
{
    std::vector<HWND> windows;
    for (int i = 0; i < probe_windows; ++i)
        windows.push_back(CreateWindowExA(0, "STATIC", "gauge", WS_POPUP, 0, 0, 8, 8, nullptr,
                                          nullptr, nullptr, nullptr));
    return [windows] {
        for (HWND window : windows)
            DestroyWindow(window);
    };
}

uint32_t gui_objects(DWORD kind)
{
    return GetGuiResources(GetCurrentProcess(), kind);
}

// The system's counter when it follows the objects made, else the substitute when that does.
count_gauge pick(const char* system_name, uint32_t (*system)(), const char* substitute_name,
                 uint32_t (*substitute)(), int expected, const std::function<release_fn()>& make)
{
    if (counter_follows(system, expected, make))
        return {system_name, system};
    if (counter_follows(substitute, expected, make))
        return {substitute_name, substitute};
    return {"none", nullptr};
}

} // namespace

process_gauges::process_gauges()
    : private_usage_works_(counter_follows([] { return memory_counters().PrivateUsage; },
                                           probe_bytes / 2, make_touched_memory)),
      heap_walk_works_(
          counter_follows(live_heap_bytes, probe_objects * (64 << 10), make_heap_blocks)),
      handles_(pick("GetProcessHandleCount", system_handle_count, "handle-table-probe",
                    probed_handle_count, probe_objects, make_events)),
      gdi_objects_(pick(
          "GetGuiResources", [] { return gui_objects(GR_GDIOBJECTS); }, "gdi-table-probe",
          probed_gdi_count, probe_objects, make_pens)),
      user_objects_(pick(
          "GetGuiResources", [] { return gui_objects(GR_USEROBJECTS); }, "own-windows",
          own_window_count, probe_windows, make_windows))
{}

gauge_reading process_gauges::read() const
{
    const PROCESS_MEMORY_COUNTERS_EX memory = memory_counters();
    gauge_reading reading;
    reading.private_bytes = private_usage_works_ ? memory.PrivateUsage : 0;
    reading.pagefile_bytes = memory.PagefileUsage;
    reading.working_set_bytes = memory.WorkingSetSize;
    reading.heap_bytes = heap_walk_works_ ? live_heap_bytes() : 0;
    reading.handles = handles_.read();
    reading.gdi_objects = gdi_objects_.read();
    reading.user_objects = user_objects_.read();
    reading.threads = thread_count();
    const std::vector<own_window> windows = own_windows();
    reading.wine_windows = static_cast<uint32_t>(std::count_if(
        windows.begin(), windows.end(), [](const own_window& w) { return w.wine_helper; }));
    reading.wine_gdi_objects = take_gdi_census(windows).wine_objects;
    return reading;
}

std::string process_gauges::sources() const
{
    std::string line = "private=";
    line += private_usage_works_ ? "PrivateUsage" : "none(PrivateUsage-stands-still)";
    line += " pagefile=PagefileUsage workingset=WorkingSetSize heap=";
    line += heap_walk_works_ ? "HeapWalk" : "none";
    line += " handles=";
    line += handles_.source;
    line += " gdi=";
    line += gdi_objects_.source;
    line += " user=";
    line += user_objects_.source;
    line += " threads=toolhelp wine_helpers=WineD3D_OpenGL-windows";
    return line;
}
