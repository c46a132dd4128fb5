// Compile-time checks of the records that cross the library's boundary.
#pragma once

#include <cstddef>

#include "ffmpeg_layout_checks.h"
#include "kx_vidrender.h"

static_assert(sizeof(kx_pixel_fmt) == 4, "pixel formats are 32-bit");
static_assert(sizeof(display_region) == 32, "display_region layout");
static_assert(offsetof(display_region, left) == 8 && offsetof(display_region, right) == 12 &&
                  offsetof(display_region, top) == 16 && offsetof(display_region, bottom) == 20,
              "display_region field order: left, right, top, bottom");
static_assert(sizeof(overlay_rect) == 24, "overlay_rect layout");
static_assert(sizeof(overlay_point) == 16, "overlay_point layout");
#if !defined(_WIN64)
static_assert(sizeof(overlay_entry) == 80, "overlay entries are 80 bytes on Win32");
static_assert(offsetof(overlay_entry, direction_mark) == 60 &&
                  offsetof(overlay_entry, ellipse_layout) == 68 &&
                  offsetof(overlay_entry, v_align) == 76,
              "overlay_entry field order");
#endif
#if defined(_WIN64)
static_assert(offsetof(overlay_group, id) == 36, "overlay_group: id after the caller fields");
#else
static_assert(offsetof(overlay_group, id) == 28, "overlay_group: id after the caller fields");
#endif
