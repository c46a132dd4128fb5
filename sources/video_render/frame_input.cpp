#include "frame_input.h"

#include "ffmpeg_records.h"

namespace frame_input {

int color_class_of(int colorspace)
{
    switch (colorspace) {
    case ffmpeg_ids::colorspace_bt709:
        return bt709;
    case ffmpeg_ids::colorspace_bt2020_ncl:
    case ffmpeg_ids::colorspace_bt2020_cl:
        return bt2020;
    default:
        return bt601;
    }
}

i420_layout contiguous_i420(uint32_t width, uint32_t height)
{
    const uint32_t area = width * height;
    return {area, 5 * (area / 4), width, width / 2};
}

void mark_d3d11_frame(AVFrame* frame)
{
    frame->data[2] = reinterpret_cast<uint8_t*>(d3d11_frame_marker);
    frame->data[3] = reinterpret_cast<uint8_t*>(frame->hw_frames_ctx);
}

} // namespace frame_input
