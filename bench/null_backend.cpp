#include "null_backend.h"

#include <memory>

namespace {

null_backend_tally counted = {};

class null_backend final : public vrender_base {
  public:
    explicit null_backend(int kind) { render_type_ = kind; }

    bool init_render(HWND window, int video_width, int video_height, int target_width,
                     int target_height, AVCodecContext* codec_ctx) override
    {
        window_ = window;
        video_width_ = video_width;
        video_height_ = video_height;
        target_width_ = target_width;
        target_height_ = target_height;
        decoder_ctx_ = codec_ctx;
        return true;
    }
    bool begin_render(bool, uint32_t) override { return true; }
    bool draw_image(uint8_t**, int*, RECT*, RECT*) override { return true; }
    bool update_image(uint8_t**, int* strides, RECT*) override
    {
        ++counted.frames;
        counted.luma_stride = strides ? strides[0] : 0;
        return true;
    }
    bool present(void*, void*) override { return true; }
    bool set_image_adjust(const int*) override { return true; }
    void set_color_space(int) override {}
};

int null_caps()
{
    return caps_d3d9;
}

std::unique_ptr<vrender_base> make_null_backend(int kind)
{
    counted.backend_kind = kind;
    return std::make_unique<null_backend>(kind);
}

const backend_seam null_seam = {null_caps, make_null_backend};

} // namespace

null_backend_seam::null_backend_seam()
{
    counted = {0, 0, -1};
    install_backend_seam(&null_seam);
}

null_backend_seam::~null_backend_seam()
{
    install_backend_seam(nullptr);
}

null_backend_tally null_backend_seam::tally() const
{
    return counted;
}
