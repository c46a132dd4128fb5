// The player's pictures: its test pattern or a Y4M file, as contiguous planar 4:2:0 (Y, U, V,
// chroma strides (width + 1) / 2).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "player_options.h"
#include "test_pattern.h"
#include "y4m_reader.h"

class frame_source {
  public:
    // The pattern at the window's size, or the file; false with `error` set on a bad file.
    bool open(const player_options& options, std::string& error);

    // The next picture and its AVColorSpace; false at the end (or on a damaged file, with
    // `error` set).
    bool next(std::vector<uint8_t>& picture, int& colorspace, std::string& error);

    const test_pattern* pattern() const { return pattern_.get(); }
    int index() const { return index_; }
    int width() const { return width_; }
    int height() const { return height_; }

  private:
    std::unique_ptr<test_pattern> pattern_;
    y4m_reader file_;
    int width_ = 0;
    int height_ = 0;
    int index_ = 0;
    int limit_ = 0;
};
