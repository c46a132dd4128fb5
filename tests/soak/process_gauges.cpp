#include "process_gauges.h"

#include <windows.h>

#include <psapi.h>
#include <tlhelp32.h>

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

// Wine's GDI handle table is in the process; a bare table index names its entry.
uint32_t probed_gdi_count()
{
    uint32_t found = 0;
    for (uintptr_t index = 1; index < 0x10000; ++index)
        found += GetObjectType(reinterpret_cast<HGDIOBJ>(index)) != 0;
    return found;
}

BOOL CALLBACK count_child(HWND, LPARAM count)
{
    ++*reinterpret_cast<uint32_t*>(count);
    return TRUE;
}

BOOL CALLBACK count_own_window(HWND window, LPARAM count)
{
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process == GetCurrentProcessId()) {
        ++*reinterpret_cast<uint32_t*>(count);
        EnumChildWindows(window, count_child, count);
    }
    return TRUE;
}

// Windows are the USER objects a renderer could leak; menus, cursors and hooks it has none of.
uint32_t own_window_count()
{
    uint32_t count = 0;
    EnumWindows(count_own_window, reinterpret_cast<LPARAM>(&count));
    return count;
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
    line += " threads=toolhelp";
    return line;
}
