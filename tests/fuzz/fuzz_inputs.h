// The hostile arguments of the fuzz program: software pictures with odd strides, picture
// sizes, overlay lists, display regions and image adjustments. Everything handed over is
// consistent with what is stated about it (a plane holds what its size and stride say), since
// the library trusts those; everything else about it is fair game.
#pragma once

#include <cstdint>
#include <list>
#include <string>

#include "ffmpeg_records.h"
#include "fuzz_random.h"
#include "guarded_buffer.h"
#include "kx_vidrender.h"

// The three planes of a software picture, each in memory of its own that ends at a guard page.
struct software_planes {
    guarded_buffer buffers[3];
};

// Fills data[0..2] and linesize[0..2] of `frame` with a planar 4:2:0 picture of width x height
// (both positive): luma width x height, chroma (width + 1) / 2 x (height + 1) / 2 as FFmpeg
// allocates it. Strides are equal to, larger or smaller than the row, zero or negative (the
// plane pointer then addresses the last row in memory); a plane may be left null. Each buffer
// holds exactly (rows - 1) * |stride| + row bytes. Appends a description to `text`.
void make_software_planes(fuzz_random& random, int width, int height, AVFrame& frame,
                          software_planes& planes, std::string& text);

// A picture size whose planes the program can afford: tiny, odd, typical camera sizes, large.
void picture_size(fuzz_random& random, int& width, int& height);

// A size no plane can back: zero, negative or huge, for calls where nothing is read.
void hostile_size(fuzz_random& random, int& width, int& height);

// A window size: mostly ordinary, sometimes empty, tiny or past what the library accepts.
void window_size(fuzz_random& random, int& width, int& height);

// 0 to 1,000 points in all, every kind, alignment, flag, mark and layout, font sizes from 0
// to huge, zero and huge references, anchors far outside the window. Group ids are small so
// that get_overlay_rect finds some.
std::list<overlay_group> make_overlays(fuzz_random& random, size_t& points);

// Regions in and out of force, with zero, negative and reversed extents and extreme values.
display_region make_region(fuzz_random& random);

// Four adjustment values, mostly outside 0..100.
void make_adjust(fuzz_random& random, int values[4]);

// A colour-space value: the recognised ones, the ones treated as BT.601 and any other.
int make_colorspace(fuzz_random& random);
