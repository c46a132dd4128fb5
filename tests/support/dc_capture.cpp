#include "dc_capture.h"

void capture_callback(void* context, int, void* user_pointer)
{
    auto* capture = static_cast<frame_capture*>(user_pointer);
    capture->last = capture_dc(static_cast<HDC>(context), capture->width, capture->height);
    ++capture->frames;
}
