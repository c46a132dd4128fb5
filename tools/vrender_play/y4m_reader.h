// Reads 8-bit 4:2:0 YUV4MPEG2 files frame by frame.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

class y4m_reader {
  public:
    y4m_reader() = default;
    ~y4m_reader();
    y4m_reader(const y4m_reader&) = delete;
    y4m_reader& operator=(const y4m_reader&) = delete;

    // Opens the file and reads its header; on failure `error()` says why.
    bool open(const std::string& path);
    // Reads the next frame into `picture` (Y, then U, then V); false at the end of the file
    // or on a damaged frame, which `error()` then describes.
    bool read_frame(std::vector<uint8_t>& picture);

    int width() const { return width_; }
    int height() const { return height_; }
    int frames_read() const { return frames_read_; }
    const std::string& error() const { return error_; }

    // Parses a stream header line (without its "\n"); false with `error` set when it is not
    // an 8-bit 4:2:0 YUV4MPEG2 header.
    static bool parse_header(const std::string& line, int& width, int& height, std::string& error);

  private:
    bool read_line(std::string& line);

    FILE* file_ = nullptr;
    int width_ = 0;
    int height_ = 0;
    int frames_read_ = 0;
    std::string error_;
};
