// The player's built-in animated test pattern: colour bars, a grey ramp and a moving box,
// with a colour class that changes every 100 frames, and the overlays that go with it.
#pragma once

#include <cstdint>
#include <list>
#include <vector>

#include "kx_vidrender.h"

class test_pattern {
  public:
    test_pattern(int width, int height);

    // Paints frame `index` into `picture` (contiguous Y, U, V; chroma (w+1)/2 x (h+1)/2).
    void paint(int index, std::vector<uint8_t>& picture) const;
    // AVColorSpace value of frame `index`: BT.601, BT.709 and BT.2020 in turn.
    static int colorspace_of(int index);
    // The overlays of frame `index`: labels, a crossing line, a sized box, ellipses.
    std::list<overlay_group> overlays(int index) const;

  private:
    int width_;
    int height_;
};
