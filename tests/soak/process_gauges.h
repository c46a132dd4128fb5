// The soak run's view of its own process: memory (the system's counters and the live blocks
// of the process's heaps), kernel handles, GDI and USER objects and threads. Some of the system's
// counters are stubs under Wine (they answer 0 whatever the process does); the gauges find out
// which by creating objects and watching the counters move, and read a substitute where a counter
// stands still.
//
// The substitutes leave out the windows Wine's Direct3D makes for itself, and the GDI objects
// that go with them, and count those on their own (wine_windows, wine_gdi_objects). Wine 8's
// wined3d shares one GL context among a device's swap chains and, when one of them is destroyed,
// can go on using that context for a moment with the freed swap chain still in it: the window
// handle it reads from there is now and then null, so it takes a DC of the desktop, cannot set
// its pixel format there, and falls back to a hidden "WineD3D fake window" (class
// WineD3D_OpenGL) that it makes on its command thread. That window, with the "Default IME"
// window Wine gives its thread, stays for good, and each such fallback leaves a desktop DC
// behind, whatever the renderer does. The closer together swap chains are rebuilt, the more
// often it happens: once in forty rebuilds four frames apart, far less often a hundred apart.
#pragma once

#include <cstdint>
#include <string>

struct gauge_reading {
    uint64_t private_bytes = 0; // PrivateUsage; 0 where it is a stub
    uint64_t pagefile_bytes = 0;
    uint64_t working_set_bytes = 0;
    uint64_t heap_bytes = 0; // live blocks of all the process's heaps (malloc, COM objects)
    uint32_t handles = 0;
    uint32_t gdi_objects = 0;
    uint32_t user_objects = 0;
    uint32_t threads = 0;
    // Wine's own helper windows and their GDI objects, left out of the two counts above.
    uint32_t wine_windows = 0;
    uint32_t wine_gdi_objects = 0;
};

// One count and where it is read from; a gauge that nothing answers for reads 0.
struct count_gauge {
    const char* source;
    uint32_t (*counter)();
    uint32_t read() const { return counter ? counter() : 0; }
};

class process_gauges {
  public:
    // Runs the checks of the system's counters (a fraction of a second).
    process_gauges();

    gauge_reading read() const;
    // One line naming where each value comes from, e.g. "handles=GetProcessHandleCount".
    std::string sources() const;

  private:
    bool private_usage_works_;
    bool heap_walk_works_;
    count_gauge handles_;
    count_gauge gdi_objects_;
    count_gauge user_objects_;
};
