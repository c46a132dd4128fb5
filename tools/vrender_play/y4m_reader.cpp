#include "y4m_reader.h"

#include <cstdlib>
#include <sstream>

y4m_reader::~y4m_reader()
{
    if (file_)
        std::fclose(file_);
}

bool y4m_reader::parse_header(const std::string& line, int& width, int& height, std::string& error)
{
    std::istringstream fields(line);
    std::string magic;
    fields >> magic;
    if (magic != "YUV4MPEG2") {
        error = "not a YUV4MPEG2 file";
        return false;
    }
    width = height = 0;
    std::string field;
    while (fields >> field) {
        const char tag = field[0];
        const std::string value = field.substr(1);
        if (tag == 'W')
            width = std::atoi(value.c_str());
        else if (tag == 'H')
            height = std::atoi(value.c_str());
        else if (tag == 'C' && value.rfind("420", 0) != 0) {
            error = "colour space C" + value + " is not 8-bit 4:2:0";
            return false;
        } else if (tag == 'C' && value.find("p1") != std::string::npos) { // 420p10, 420p12
            error = "colour space C" + value + " is not 8-bit 4:2:0";
            return false;
        }
    }
    if (width <= 0 || height <= 0 || width > 8192 || height > 8192) {
        error = "missing or unusable picture size in the header";
        return false;
    }
    return true;
}

bool y4m_reader::read_line(std::string& line)
{
    line.clear();
    int c;
    while ((c = std::fgetc(file_)) != EOF && c != '\n') {
        line.push_back(static_cast<char>(c));
        if (line.size() > 4096)
            return false;
    }
    return c == '\n';
}

bool y4m_reader::open(const std::string& path)
{
    file_ = std::fopen(path.c_str(), "rb");
    if (!file_) {
        error_ = "cannot open " + path;
        return false;
    }
    std::string header;
    if (!read_line(header)) {
        error_ = path + ": no stream header";
        return false;
    }
    std::string why;
    if (!parse_header(header, width_, height_, why)) {
        error_ = path + ": " + why;
        return false;
    }
    return true;
}

bool y4m_reader::read_frame(std::vector<uint8_t>& picture)
{
    std::string line;
    if (!read_line(line)) {
        if (!line.empty())
            error_ = "frame " + std::to_string(frames_read_ + 1) + ": damaged frame header";
        return false;
    }
    if (line.rfind("FRAME", 0) != 0) {
        error_ = "frame " + std::to_string(frames_read_ + 1) + ": expected FRAME, found \"" +
                 line.substr(0, 16) + "\"";
        return false;
    }
    const size_t chroma = static_cast<size_t>((width_ + 1) / 2) * ((height_ + 1) / 2);
    const size_t size = static_cast<size_t>(width_) * height_ + 2 * chroma;
    picture.resize(size);
    if (std::fread(picture.data(), 1, size, file_) != size) {
        error_ = "frame " + std::to_string(frames_read_ + 1) + " is truncated";
        return false;
    }
    ++frames_read_;
    return true;
}
