#include "log_watch.h"

#include <cctype>

#include "kx_logger.h"

log_watch::log_watch()
{
    kx_logger_set_sink(&log_watch::receive, this);
}

log_watch::~log_watch()
{
    kx_logger_set_sink(nullptr, nullptr);
}

namespace {

// The text with every number written as '#': decimal runs (with their sign) and hexadecimal
// words of pointer length. Digits inside names (d3d9device, yuvnv12) stay.
std::string fold_numbers(const std::string& text)
{
    std::string folded;
    size_t i = 0;
    while (i < text.size()) {
        size_t end = i;
        bool digit = false;
        while (end < text.size() && std::isxdigit(static_cast<unsigned char>(text[end]))) {
            digit = digit || std::isdigit(static_cast<unsigned char>(text[end]));
            ++end;
        }
        const bool word_start = i == 0 || !std::isalnum(static_cast<unsigned char>(text[i - 1]));
        const bool word_end =
            end == text.size() || !std::isalnum(static_cast<unsigned char>(text[end]));
        if (digit && word_start && word_end && end - i >= 8) {
            if (!folded.empty() && folded.back() == '-')
                folded.pop_back();
            folded += '#';
            i = end;
            continue;
        }
        const bool in_name =
            i > 0 && (std::isalnum(static_cast<unsigned char>(text[i - 1])) || text[i - 1] == '_');
        if (std::isdigit(static_cast<unsigned char>(text[i])) && !in_name) {
            if (!folded.empty() && folded.back() == '-')
                folded.pop_back();
            while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])))
                ++i;
            folded += '#';
            continue;
        }
        folded += text[i++];
    }
    return folded;
}

} // namespace

void log_watch::receive(void* user, int level, const char*, int, int, const char* message)
{
    auto* self = static_cast<log_watch*>(user);
    const std::string text = message ? message : "";
    const std::string folded = fold_numbers(text);
    std::lock_guard<std::mutex> lock(self->mutex_);
    self->call_lines_.push_back(text);
    ++self->tally_[{level, folded}];
    ++self->total_;
}

void log_watch::begin_call()
{
    std::lock_guard<std::mutex> lock(mutex_);
    call_lines_.clear();
}

bool log_watch::logged(const std::string& text) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    for (const std::string& line : call_lines_)
        if (line == text)
            return true;
    return false;
}

bool log_watch::logged_prefix(const std::string& prefix) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    for (const std::string& line : call_lines_)
        if (line.compare(0, prefix.size(), prefix) == 0)
            return true;
    return false;
}

std::vector<std::string> log_watch::call_lines() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return call_lines_;
}

std::map<std::pair<int, std::string>, long> log_watch::tally() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return tally_;
}

long log_watch::total() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return total_;
}
