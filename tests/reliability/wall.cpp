// wall [--long] [--seed S]: sixteen renderers, each on a window and a thread of its own, frames of
// four sizes and both software formats (on DirectDraw beside the stand-in d3d9.dll, else on
// Direct3D 9, four of them DXVA2 from one decoder's device), windows resized, overlay lists
// replaced and renderers made again from a seventeenth thread. At each checkpoint every window
// shows its own flat colour and, after the warm-up, the process gauges stay level.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

#include "color_reference.h"
#include "dc_pixels.h"
#include "fake_dxva2_decoder.h"
#include "harness.h"
#include "modes.h"
#include "recursive_lock.h"
#include "test_picture.h"
#include "test_window.h"

namespace {

constexpr int wall_size = 16;
constexpr int cell_w = 480, cell_h = 270; // a 4 x 4 grid on the rig's 1920 x 1080 screen
constexpr int sizes[][2] = {{160, 120}, {320, 180}, {352, 288}, {640, 360}};
constexpr int chromas[][2] = {{128, 128}, {90, 170}, {170, 90}, {100, 100}};

// What limited-range BT.601 Y, U, V look like on screen.
uint32_t rgb_of(int y, int u, int v)
{
    const rgb8 c = expected_from_yuv(y, u, v, 0, neutral_adjust);
    return uint32_t(std::lround(c.r)) << 16 | uint32_t(std::lround(c.g)) << 8 |
           uint32_t(std::lround(c.b));
}
uint32_t surface_colour = 0;

struct wall_slot {
    uint32_t rgb = 0;
    std::unique_ptr<test_picture> picture;
    AVFrame frame = {};
    // Held while the renderer is replaced or its overlay list set. Not a std::mutex: MinGW's
    // makes an event handle the first time two threads meet at it, which the gauges would count.
    recursive_lock mutex;
    kx_vidrender* renderer = nullptr;
    std::atomic<bool> settled{false}; // no overlays until the checkpoint has been looked at
};

struct wall_run {
    int rounds = 4, warmup = 1, frames = 10;
    uint32_t seed = 1;
    wall_slot slots[wall_size];
    std::atomic<int> round{-1}, arrived{0}, wrong_windows{0}, remade{0};
    std::atomic<bool> stop{false};
    int warming(int g) const { return g == gauge_memory_kb ? rounds / 2 : warmup; }
};

void make_renderer(wall_slot& slot, HWND window)
{
    std::lock_guard<recursive_lock> lock(slot.mutex);
    kx_vidrender::destroy_vrender(slot.renderer);
    slot.renderer = kx_vidrender::create_vrender(kx_pixel_fmt(slot.frame.format));
    slot.renderer->init_vrender(window, slot.frame.width, slot.frame.height,
                                static_cast<AVCodecContext*>(slot.frame.opaque));
}

// Most of nine points inside the window (overlay texts may cover a few) show the slot's colour,
// which is 106 or more from every other slot's in the sum of the channels' differences.
bool shows_own_colour(uint32_t rgb, HWND window)
{
    HDC dc = GetDC(window);
    const captured_picture got = capture_dc(dc, cell_w - 40, cell_h - 20); // the checkpoint size
    ReleaseDC(window, dc);
    int own = 0;
    for (int point = 0; point < 9 && !got.pixels.empty(); ++point) {
        const uint32_t pixel = got.pixels[size_t((point / 3 + 1) * got.height / 4 * got.width +
                                                 (point % 3 + 1) * got.width / 4)];
        int off = 0;
        for (int shift = 0; shift < 24; shift += 8)
            off += std::abs(int(pixel >> shift & 255) - int(rgb >> shift & 255));
        own += off < 40;
    }
    if (own < 5 && !got.pixels.empty())
        std::fprintf(stderr, "wall: the window of %06X shows %06X\n", unsigned(rgb),
                     unsigned(got.pixels[got.pixels.size() / 2 + size_t(got.width / 2)]));
    return own >= 5;
}

// One renderer's thread: frames in rounds, the renderer now and then made again and the window
// resized. For each checkpoint the window gets its first size back, the overlays go (they may
// cover the points looked at) and the renderer is made again: a live renderer keeps fonts for
// the text heights it drew, so the gauges compare renderers that hold nothing yet, and whatever
// a destroyed renderer left behind adds up round after round.
void drive_slot(wall_run& run, int index)
{
    wall_slot& slot = run.slots[index];
    seeded_random random(run.seed * 131 + uint32_t(index));
    test_window window(cell_w - 40, cell_h - 20);
    const auto place = [&](int w, int h) {
        SetWindowPos(window.handle(), nullptr, index % 4 * cell_w, index / 4 * cell_h, w, h,
                     SWP_NOZORDER);
        test_window::pump_messages();
    };
    place(cell_w - 40, cell_h - 20);
    make_renderer(slot, window.handle());
    for (int round = 0; round < run.rounds; ++round) {
        while (run.round < round)
            Sleep(2);
        slot.settled = false;
        for (int n = 0; n < run.frames + 2; ++n) {
            if (n < run.frames && random.below(400) == 0 && ++run.remade)
                make_renderer(slot, window.handle());
            if (n == run.frames) {
                place(cell_w - 40, cell_h - 20);
                make_renderer(slot, window.handle());
                std::lock_guard<recursive_lock> lock(slot.mutex);
                slot.settled = true;
                slot.renderer->set_overlay_list({});
            } else if (n < run.frames && random.percent(3))
                place(random.between(160, cell_w - 20), random.between(120, cell_h - 10));
            slot.renderer->render_frame(&slot.frame, slot.frame.width, slot.frame.height);
            test_window::pump_messages();
        }
        // The screen may lag behind the last present: up to three looks, 100 ms apart.
        bool own = false;
        for (int look = 0; look < 3 && !own; ++look, Sleep(100))
            own = shows_own_colour(slot.rgb, window.handle());
        run.wrong_windows += !own;
        ++run.arrived;
    }
    while (!run.stop)
        Sleep(2);
    std::lock_guard<recursive_lock> lock(slot.mutex);
    kx_vidrender::destroy_vrender(slot.renderer);
    slot.renderer = nullptr;
}

} // namespace

int run_wall(int argc, char** argv)
{
    wall_run run;
    for (int i = 0; i < argc; ++i) {
        const std::string name = argv[i];
        if (name == "--long")
            run.rounds = 30, run.warmup = 5, run.frames = 50;
        else if (name == "--seed" && i + 1 < argc)
            run.seed = uint32_t(std::strtoul(argv[++i], nullptr, 10));
        else
            return std::fprintf(stderr, "usage: wall [--long] [--seed S]\n"), 2;
    }
    run_report::set_replay("vrender_reliability wall --seed " + std::to_string(run.seed) +
                           (run.rounds > 4 ? " --long" : ""));
    run_report::watch_hangs(600);
    fake_dxva2_decoder decoder; // not ready beside the stand-in d3d9.dll
    std::vector<IDirect3DSurface9*> surfaces;
    for (int i = 0; i < wall_size; ++i) {
        wall_slot& slot = run.slots[i];
        const int w = sizes[i % 4][0], h = sizes[i % 4][1], y = 50 + 50 * (i / 4);
        slot.rgb = rgb_of(y, chromas[i % 4][0], chromas[i % 4][1]);
        if (decoder.ready() && i >= 12) {
            surface_colour = slot.rgb;
            surfaces.push_back(decoder.make_surface(w, h, [](int, int) { return surface_colour; }));
            slot.frame = decoder.frame_of(surfaces.back());
        } else {
            slot.picture = std::make_unique<test_picture>(w, h, uint8_t(y), chromas[i % 4][0],
                                                          chromas[i % 4][1], 0, i % 2 ? 12 : 0);
            slot.frame = slot.picture->frame;
        }
        slot.frame.width = w;
        slot.frame.height = h;
    }
    if (!gauges_blind_spots().empty())
        return std::fprintf(stderr, "wall: the gauges do not see a leak\n"), 2;

    std::vector<std::thread> threads;
    for (int i = 0; i < wall_size; ++i)
        threads.emplace_back(drive_slot, std::ref(run), i);
    // The seventeenth thread: a new overlay list for one renderer every few milliseconds.
    std::thread changer([&run, random = seeded_random(run.seed)]() mutable {
        for (; !run.stop; Sleep(random.below(8))) {
            wall_slot& slot = run.slots[random.below(wall_size)];
            const std::list<overlay_group> groups = random_overlays(random, false);
            std::lock_guard<recursive_lock> lock(slot.mutex);
            if (slot.renderer && !slot.settled)
                slot.renderer->set_overlay_list(groups);
        }
    });
    // The highest reading of the warm-up rounds (of the first half for process memory, which
    // Wine's and Mesa's allocators step up and swing): GDI counts rise and fall with the
    // renderers made again, a leak climbs round after round above their peak.
    gauge_reading warm;
    const uint64_t slack[gauge_count] = {16384, 2048, 4, 8, 8, 0};
    std::string grown;
    for (int round = 0; round < run.rounds; ++round) {
        run_report::begin_call("wall round %d", round);
        run.arrived = 0;
        run.round = round;
        while (run.arrived < wall_size)
            Sleep(5);
        const gauge_reading now = read_gauges();
        for (int g = 0; g < gauge_count; ++g)
            if (round <= run.warming(g))
                warm.value[g] = std::max(warm.value[g], now.value[g]);
        std::printf("wall round %d:", round);
        for (int g = 0; g < gauge_count; ++g)
            std::printf(" %s=%llu", gauge_name(g), static_cast<unsigned long long>(now.value[g]));
        std::printf(" windows without their frames=%d\n", run.wrong_windows.load());
        std::fflush(stdout);
        // A gauge that grew is reported at the end, so that a long run shows every round.
        for (int g = run.rounds > 4 ? 0 : gauge_heap_kb; g < gauge_count; ++g)
            if (round > run.warming(g) &&
                now.value[g] >
                    warm.value[g] + (g == gauge_handles ? 0 : warm.value[g] / 20) + slack[g] &&
                grown.find(gauge_name(g)) == std::string::npos)
                grown += std::string(grown.empty() ? "" : ", ") + gauge_name(g);
        if (run.wrong_windows > 0)
            run_report::fail("wall: a window without its own renderer's frames");
        run_report::end_call();
    }
    run.stop = true;
    changer.join();
    for (std::thread& thread : threads)
        thread.join();
    for (IDirect3DSurface9* surface : surfaces)
        surface->Release();
    if (!grown.empty())
        run_report::fail("wall: %s grew after the warm-up", grown.c_str());
    std::printf("wall (%s, seed %u): %d renderers, %d rounds of %d frames, judged after %d, %d "
                "renderers made again, result=pass\n",
                decoder.ready() ? "Direct3D 9 and DXVA2" : "DirectDraw", run.seed, wall_size,
                run.rounds, run.frames + 2, run.warmup, run.remade.load());
    return 0;
}
