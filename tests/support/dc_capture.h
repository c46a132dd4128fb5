// A draw callback that keeps the picture of every frame it is called for.
#pragma once

#include "dc_pixels.h"

// A draw callback that captures width x height pixels of every frame's context; pass the
// `frame_capture` as the callback's pointer argument.
struct frame_capture {
    int width = 0;
    int height = 0;
    int frames = 0;
    captured_picture last;
};
void capture_callback(void* context, int user_value, void* user_pointer);
