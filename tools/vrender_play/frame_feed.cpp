#include "frame_feed.h"

namespace {

AVFrame software_frame(std::vector<uint8_t>& picture, int width, int height, int colorspace)
{
    const int cw = (width + 1) / 2;
    AVFrame frame = {};
    frame.format = ffmpeg_ids::pix_fmt_yuv420p;
    frame.colorspace = colorspace;
    frame.width = width;
    frame.height = height;
    frame.data[0] = picture.data();
    frame.data[1] = frame.data[0] + static_cast<size_t>(width) * height;
    frame.data[2] = frame.data[1] + static_cast<size_t>(cw) * ((height + 1) / 2);
    frame.linesize[0] = width;
    frame.linesize[1] = cw;
    frame.linesize[2] = cw;
    return frame;
}

} // namespace

frame_feed::outcome frame_feed::open(play_path path, int width, int height, std::string& error)
{
    width_ = frame_width_ = width;
    height_ = frame_height_ = height;
    if (path == play_path::dxva2) {
        dxva2_ = std::make_unique<dxva2_uploader>();
        if (!dxva2_->open(width, height, error))
            return outcome::failed;
        format_ = kx_pix_fmt_dxva2_vld;
        codec_ctx_ = dxva2_->codec_context();
    } else if (path == play_path::d3d11) {
        d3d11_ = std::make_unique<d3d11_uploader>();
        if (d3d11_->open(width, height, error) != d3d11_uploader::outcome::ready)
            return outcome::platform_lacks;
        format_ = kx_pix_fmt_d3d11;
        codec_ctx_ = d3d11_->codec_context();
        frame_width_ = d3d11_->frame_width();
        frame_height_ = d3d11_->frame_height();
    }
    return outcome::ready;
}

bool frame_feed::make(std::vector<uint8_t>& picture, int colorspace, AVFrame& frame)
{
    if (dxva2_)
        return dxva2_->upload(picture, colorspace, frame);
    if (d3d11_)
        return d3d11_->upload(picture, colorspace, frame);
    frame = software_frame(picture, width_, height_, colorspace);
    return true;
}
