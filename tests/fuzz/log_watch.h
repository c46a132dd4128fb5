// Receives every line the library logs (through kx_logger's sink) while the fuzz program
// runs: the lines of the current call, to check that a refusal was logged, and a tally of
// every line by its text, digits folded, for the summary.
#pragma once

#include <map>
#include <mutex>
#include <string>
#include <vector>

class log_watch {
  public:
    log_watch();
    ~log_watch();
    log_watch(const log_watch&) = delete;
    log_watch& operator=(const log_watch&) = delete;

    // Forgets the lines of the previous call.
    void begin_call();
    // Whether the current call logged a line of exactly `text`, or one that starts with
    // `prefix` (for messages that carry pointers, whose printed form is the runtime's).
    bool logged(const std::string& text) const;
    bool logged_prefix(const std::string& prefix) const;
    std::vector<std::string> call_lines() const;

    // Lines seen so far, by level and text with every number written as '#'.
    std::map<std::pair<int, std::string>, long> tally() const;
    long total() const;

  private:
    static void receive(void* user, int level, const char* source, int line, int thread_id,
                        const char* message);

    mutable std::mutex mutex_;
    std::vector<std::string> call_lines_;
    std::map<std::pair<int, std::string>, long> tally_;
    long total_ = 0;
};
