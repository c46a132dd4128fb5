#include "log_capture.h"

#include "kx_logger.h"

log_capture::log_capture()
{
    kx_logger_set_sink(&log_capture::receive, this);
}

log_capture::~log_capture()
{
    kx_logger_set_sink(nullptr, nullptr);
}

void log_capture::receive(void* user, int level, const char* source, int line, int thread_id,
                          const char* message)
{
    auto* self = static_cast<log_capture*>(user);
    std::lock_guard<std::mutex> lock(self->mutex_);
    self->lines_.push_back({level, source ? source : "", line, thread_id, message ? message : ""});
}

std::vector<log_line> log_capture::lines() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
}

std::vector<std::string> log_capture::texts() const
{
    std::vector<std::string> result;
    for (const log_line& line : lines())
        result.push_back(line.text);
    return result;
}

int log_capture::count(int level, const std::string& text) const
{
    int found = 0;
    for (const log_line& line : lines())
        found += line.level == level && line.text == text;
    return found;
}

void log_capture::clear()
{
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.clear();
}
