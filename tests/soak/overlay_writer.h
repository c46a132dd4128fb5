// Replaces a renderer's overlay list from a thread of its own, at random moments, with random
// lists of texts and figures, while the caller's thread draws frames. The thread starts with
// the object and stops when it is destroyed.
#pragma once

#include <atomic>
#include <cstdint>
#include <list>
#include <mutex>
#include <random>
#include <thread>

#include "kx_vidrender.h"

class overlay_writer {
  public:
    overlay_writer(kx_vidrender* renderer, uint32_t seed);
    ~overlay_writer();
    overlay_writer(const overlay_writer&) = delete;
    overlay_writer& operator=(const overlay_writer&) = delete;

    // While the caller holds it, no replacement happens: the caller draws a measured frame
    // with the fixed list.
    std::mutex& gate() { return gate_; }
    long replacements() const { return replacements_.load(); }

    // The same texts and figures every time, in sizes the random lists use too.
    static std::list<overlay_group> fixed_list();

  private:
    void run();
    std::list<overlay_group> random_list();
    overlay_entry random_text();
    overlay_entry random_figure();
    overlay_point random_point();
    uint32_t below(uint32_t limit)
    {
        return std::uniform_int_distribution<uint32_t>(0, limit - 1)(random_);
    }

    kx_vidrender* renderer_;
    std::mt19937 random_;
    std::mutex gate_;
    std::atomic<bool> stop_{false};
    std::atomic<long> replacements_{0};
    std::thread thread_;
};
