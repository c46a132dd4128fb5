// The frames a soak run draws, one source per way into the library: software pictures, DXVA2
// surfaces of a decoder's Direct3D 9 device, and Direct3D 11 texture slices of a decoder's
// device. A hardware source also reports the reference counts of what it lends the library,
// which must come back to where they were once the renderer that borrowed them is gone.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "ffmpeg_records.h"
#include "kx_vidrender.h"

struct borrowed_count {
    std::string name;
    unsigned long count;
};

class frame_source {
  public:
    virtual ~frame_source() = default;

    // Empty when the source is ready; otherwise why it is not.
    virtual std::string problem() const = 0;
    virtual kx_pixel_fmt format() const = 0;
    virtual AVCodecContext* codec_context() = 0;
    virtual AVFrame* frame(int index) = 0;
    // Frames that reached the decoder's device (counted by its lock); -1 when not known.
    virtual long frames_copied() const { return -1; }
    // The reference counts of the borrowed objects, and whether the decoder's device lock is
    // back in balance (taken as often as given back).
    virtual std::vector<borrowed_count> borrowed_counts() const { return {}; }
    virtual bool lock_balanced() const { return true; }
    // Drops what the test harness itself keeps of the renderer's objects (before the final
    // comparison of the reference counts).
    virtual void let_go() {}

    static constexpr int width = 640;
    static constexpr int height = 360;
};

// "d3d9" and "ddraw": software frames (the library picks the backend); "dxva2"; "d3d11".
std::unique_ptr<frame_source> make_frame_source(const std::string& backend);
