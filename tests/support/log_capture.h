// Collects every message the library writes through kx_logger while the object lives.
#pragma once

#include <mutex>
#include <string>
#include <vector>

struct log_line {
    int level;
    std::string source;
    int line;
    int thread_id;
    std::string text;
};

class log_capture {
  public:
    log_capture();
    ~log_capture();
    log_capture(const log_capture&) = delete;
    log_capture& operator=(const log_capture&) = delete;

    std::vector<log_line> lines() const;
    // The texts in order, each exactly as formatted (trailing "\n" included).
    std::vector<std::string> texts() const;
    // How many messages had exactly this level and text.
    int count(int level, const std::string& text) const;
    void clear();

  private:
    static void receive(void* user, int level, const char* source, int line, int thread_id,
                        const char* message);

    mutable std::mutex mutex_;
    std::vector<log_line> lines_;
};
