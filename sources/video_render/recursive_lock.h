// The lock of the library's objects, for std::lock_guard and std::unique_lock. MinGW's
// std::recursive_mutex and std::mutex never give back what a lock takes when threads contend
// for them (an event handle and a block of memory stay behind after they are destroyed), and
// renderers and their backends are made and destroyed for as long as a player runs.
#pragma once

#include <windows.h>

class recursive_lock {
  public:
    recursive_lock() { InitializeCriticalSection(&section_); }
    ~recursive_lock() { DeleteCriticalSection(&section_); }
    recursive_lock(const recursive_lock&) = delete;
    recursive_lock& operator=(const recursive_lock&) = delete;

    void lock() { EnterCriticalSection(&section_); }
    bool try_lock() { return TryEnterCriticalSection(&section_) != 0; }
    void unlock() { LeaveCriticalSection(&section_); }

  private:
    CRITICAL_SECTION section_;
};
