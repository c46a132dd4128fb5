#include "d3d9_manager.h"

#include "../log_helper.h"

VR_LOG_SOURCE("..\\..\\..\\sources\\video_render\\d3dx9_render\\d3d9_manager")

d3d9_manager::d3d9_manager()
{
    render_type_ = render_kind_d3d9;
}

d3d9_manager::~d3d9_manager() = default;

bool d3d9_manager::init_render(HWND window, int video_width, int video_height, int target_width,
                               int target_height, AVCodecContext* codec_ctx)
{
    window_ = window;
    video_width_ = video_width;
    video_height_ = video_height;
    target_width_ = target_width;
    target_height_ = target_height;
    decoder_ctx_ = codec_ctx;
    VR_LOG(vr_log::error, "d3d9_manager cannot draw yet: this backend is not built in!\n");
    return false;
}

bool d3d9_manager::begin_render(bool, uint32_t)
{
    return false;
}

bool d3d9_manager::draw_image(uint8_t**, int*, RECT*, RECT*)
{
    return false;
}

bool d3d9_manager::update_image(uint8_t**, int*, RECT*)
{
    return true;
}

bool d3d9_manager::present(void*, void*)
{
    return false;
}

bool d3d9_manager::set_image_adjust(const int* values)
{
    if (!values)
        return false;
    for (int i = 0; i < 4; ++i)
        image_adjust_[i] = values[i];
    return true;
}

void d3d9_manager::set_color_space(int color_class)
{
    color_class_ = color_class;
}
