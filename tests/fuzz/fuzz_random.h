// The seeded generator behind every choice of the fuzz program. Its sequence is fixed by the
// seed alone (splitmix64), on every build and both targets, so a run replays exactly from its
// seed; std::uniform_int_distribution promises no such thing across standard libraries.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>

class fuzz_random {
  public:
    explicit fuzz_random(uint64_t seed) : state_(seed) {}

    uint64_t next()
    {
        uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }

    uint32_t bits32() { return static_cast<uint32_t>(next() >> 32); }

    // 0 .. n-1; 0 when n is 0.
    uint32_t below(uint32_t n) { return n ? static_cast<uint32_t>(next() % n) : 0; }

    // lo .. hi, both included; the span must fit 32 bits.
    int64_t between(int64_t lo, int64_t hi)
    {
        return lo + static_cast<int64_t>(below(static_cast<uint32_t>(hi - lo + 1)));
    }

    bool percent(uint32_t chance) { return below(100) < chance; }

    template <typename T> T pick(std::initializer_list<T> values)
    {
        return values.begin()[below(static_cast<uint32_t>(values.size()))];
    }

  private:
    uint64_t state_;
};
