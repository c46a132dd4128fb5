// Turns the player's pictures into the frames of the chosen path: software frames, DXVA2
// surfaces of the player's own Direct3D 9 device, or slices of the player's own Direct3D 11
// texture array, with the codec context that hardware frames need.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "d3d11_uploader.h"
#include "dxva2_uploader.h"
#include "ffmpeg_records.h"
#include "kx_vidrender.h"
#include "player_options.h"

class frame_feed {
  public:
    enum class outcome { ready, failed, platform_lacks };

    // Makes the decoder side of `path` for width x height pictures; `error` says what failed.
    outcome open(play_path path, int width, int height, std::string& error);

    kx_pixel_fmt pixel_format() const { return format_; }
    AVCodecContext* codec_context() const { return codec_ctx_; }
    // The size render_frame is given: the picture's, or the decoder's surface size.
    int frame_width() const { return frame_width_; }
    int frame_height() const { return frame_height_; }

    // A frame of `picture`, which must outlive its use; false when it cannot be uploaded.
    bool make(std::vector<uint8_t>& picture, int colorspace, AVFrame& frame);

  private:
    kx_pixel_fmt format_ = kx_pix_fmt_yuv420p;
    AVCodecContext* codec_ctx_ = nullptr;
    int width_ = 0;
    int height_ = 0;
    int frame_width_ = 0;
    int frame_height_ = 0;
    std::unique_ptr<dxva2_uploader> dxva2_;
    std::unique_ptr<d3d11_uploader> d3d11_;
};
