// The Direct3D 11 backend: draws decoded Direct3D 11 textures.
#pragma once

#include "../vrender_base.h"

class d3d11_manager final : public vrender_base {
  public:
    d3d11_manager();
    ~d3d11_manager() override;

    bool init_render(HWND window, int video_width, int video_height, int target_width,
                     int target_height, AVCodecContext* codec_ctx) override;
    bool begin_render(bool clear, uint32_t argb) override;
    bool draw_image(uint8_t** planes, int* strides, RECT* destination, RECT* source) override;
    bool update_image(uint8_t** planes, int* strides, RECT* source) override;
    bool present(void* first, void* second) override;
    bool set_image_adjust(const int* values) override;
    void set_color_space(int color_class) override;

  private:
    int color_class_ = 0;
    int image_adjust_[4] = {50, 50, 50, 50};
};
