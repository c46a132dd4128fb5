// Which backend the front builds, and the two platform steps behind that choice (probing
// the machine, constructing a backend), gathered in one seam that tests can replace.
#pragma once

#include <memory>

#include "vrender_base.h"

// Bits of the capability check's result.
enum render_caps : int { caps_d3d9 = 1, caps_ddraw = 2 };

constexpr int no_backend = -1;

// Backend kind (render_kind) for a pixel format and the machine's capabilities, or
// no_backend when none can be made: DXVA2 frames always go to Direct3D 9, Direct3D 11
// frames to Direct3D 11, anything else to Direct3D 9 when usable, else to DirectDraw.
int choose_backend(int pixel_format, int caps);

// Probes Direct3D 9, then DirectDraw; returns a combination of render_caps bits.
int probe_render_caps();

// Constructs an uninitialised backend of the given render_kind.
std::unique_ptr<vrender_base> make_platform_backend(int kind);

struct backend_seam {
    int (*check_render_caps)();
    std::unique_ptr<vrender_base> (*make_backend)(int kind);
};

// The seam in force: the platform's unless a test installed its own.
const backend_seam& active_backend_seam();

// For tests: installs `seam` (which must outlive its use), or the platform's with null.
void install_backend_seam(const backend_seam* seam);
