// The overlay list of the overlay benchmarks: 100 entries in ten groups, a mix of what an
// IP-camera client draws: texts of four sizes (some with a border or a highlight box),
// rectangles with their size label, crossing lines with direction marks and their names, and
// boxes with inner ellipses. Coordinates are in ten-thousandths of the picture.
#pragma once

#include <list>

#include "kx_vidrender.h"

std::list<overlay_group> overlay_scene();
