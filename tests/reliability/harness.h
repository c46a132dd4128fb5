// What the modes of the reliability program share: a seeded generator, the crash and hang
// report, buffers that end at a guard page, process gauges, frame sources and overlay lists.
#pragma once

#include <windows.h>

#include <cstdint>
#include <initializer_list>
#include <list>
#include <memory>
#include <string>

#include "dc_pixels.h"
#include "ffmpeg_records.h"
#include "kx_vidrender.h"

// splitmix64: the same sequence from a seed on every build, so that a run replays exactly.
class seeded_random {
  public:
    explicit seeded_random(uint64_t seed) : state_(seed) {}
    uint32_t bits()
    {
        uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return static_cast<uint32_t>((z ^ (z >> 31)) >> 32);
    }
    uint32_t below(uint32_t n) { return n ? bits() % n : 0; }
    int between(int lo, int hi) { return lo + static_cast<int>(below(hi - lo + 1)); }
    bool percent(uint32_t chance) { return below(100) < chance; }
    template <typename T> T pick(std::initializer_list<T> values)
    {
        return values.begin()[below(static_cast<uint32_t>(values.size()))];
    }

  private:
    uint64_t state_;
};

// Crash, abort and hang reports: each names the call in progress and the command line that
// replays the run, and ends the process (1 a check failed, 2 a crash, 4 a hang).
namespace run_report {
void install();
void set_replay(const std::string& command);
void begin_call(const char* format, ...);
void end_call();
void watch_hangs(int seconds);
[[noreturn]] void fail(const char* format, ...);
} // namespace run_report

// Memory whose last byte sits just before a page that may not be touched.
class guarded_buffer {
  public:
    explicit guarded_buffer(size_t bytes);
    ~guarded_buffer() { VirtualFree(base_, 0, MEM_RELEASE); }
    guarded_buffer(const guarded_buffer&) = delete;
    guarded_buffer& operator=(const guarded_buffer&) = delete;
    uint8_t* data() const { return data_; }

  private:
    uint8_t* base_ = nullptr;
    uint8_t* data_ = nullptr;
};

enum gauge { gauge_memory_kb, gauge_heap_kb, gauge_handles, gauge_gdi, gauge_user, gauge_threads };
constexpr int gauge_count = 6;
const char* gauge_name(int which);

// Without the windows Wine's Direct3D makes for itself and the GDI objects they hold.
struct gauge_reading {
    uint64_t value[gauge_count] = {};
};

gauge_reading read_gauges();
// Empty when every gauge moves with a leak made on purpose; else the gauges that do not.
std::string gauges_blind_spots();

// Decoded frames for one way into the library, and the reference counts of what it lends.
// Frame n shows one of two flat pictures, changing every second frame.
class frame_source {
  public:
    virtual ~frame_source() = default;
    virtual kx_pixel_fmt format() const = 0;
    virtual AVCodecContext* codec_context() { return nullptr; }
    virtual AVFrame* frame(int index) = 0;
    // 0xRRGGBB of frame `index` as the window should show it.
    virtual uint32_t colour(int index) const = 0;
    // Whether frame `index` reached the window: `drawn` is what the draw callback received
    // (empty when it was not called); a backend without the callback is looked at otherwise.
    virtual bool shows(int index, const captured_picture& drawn);
    virtual std::string borrowed() const { return ""; }
    // Frames that reached the decoder's device through its lock; -1 when not known.
    virtual long copies() const { return -1; }
    virtual bool lock_balanced() const { return true; }
    // Drops what the harness itself holds of the renderer's objects.
    virtual void let_go() {}
    std::string problem;

    static constexpr int width = 640;
    static constexpr int height = 360;
};

// "software" (also "d3d9" and "ddraw"), "dxva2" or "d3d11"; null for any other name.
std::unique_ptr<frame_source> make_frame_source(const std::string& kind);

// A player's overlays, or with `hostile` every kind, flag and extreme value.
std::list<overlay_group> random_overlays(seeded_random& random, bool hostile);
