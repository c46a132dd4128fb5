#include "frame_source.h"

bool frame_source::open(const player_options& options, std::string& error)
{
    limit_ = options.frames;
    if (options.input.empty()) {
        width_ = options.window_width;
        height_ = options.window_height;
        pattern_ = std::make_unique<test_pattern>(width_, height_);
        return true;
    }
    if (!file_.open(options.input)) {
        error = file_.error();
        return false;
    }
    width_ = file_.width();
    height_ = file_.height();
    return true;
}

bool frame_source::next(std::vector<uint8_t>& picture, int& colorspace, std::string& error)
{
    if (index_ >= limit_)
        return false;
    if (pattern_) {
        pattern_->paint(index_, picture);
        colorspace = test_pattern::colorspace_of(index_);
    } else if (!file_.read_frame(picture)) {
        error = file_.error();
        return false;
    } else {
        colorspace = 2; // unspecified: drawn as BT.601
    }
    ++index_;
    return true;
}
