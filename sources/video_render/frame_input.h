// How decoded frames reach the backends: colour classes, the planar 4:2:0 buffer layout
// shared by the front's scaler, render_buffer and the NV12 converter, and the marker that
// tells the Direct3D 11 backend a frame is one of its own.
#pragma once

#include <cstdint>

struct AVFrame;

namespace frame_input {

enum color_class : int { bt601 = 0, bt709 = 1, bt2020 = 2 };

// Colour class of an AVColorSpace value: BT.709, BT.2020 (either luminance form) or,
// for every other value, BT.601.
int color_class_of(int colorspace);

inline bool is_software_format(int pixel_format)
{
    return pixel_format == 0 || pixel_format == 12;
}

inline bool is_hardware_format(int pixel_format)
{
    return pixel_format == 53 || pixel_format == 174;
}

// Offsets and strides of a contiguous planar YUV 4:2:0 picture: Y (width x height), then
// U, then V, each chroma plane floor(width / 2) bytes per row.
struct i420_layout {
    uint32_t u_offset;
    uint32_t v_offset;
    uint32_t luma_stride;
    uint32_t chroma_stride;
};

i420_layout contiguous_i420(uint32_t width, uint32_t height);

// The value the front stores in data[2] of a Direct3D 11 frame, with the frame's
// hw_frames_ctx in data[3]: the backend receives only the data and linesize arrays.
constexpr intptr_t d3d11_frame_marker = 174;

void mark_d3d11_frame(AVFrame* frame);

} // namespace frame_input
