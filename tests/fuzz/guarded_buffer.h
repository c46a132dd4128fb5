// Memory handed to the library by the fuzz program. The last usable byte sits right before a
// page that may not be touched, so a read or a write one byte past the end faults at once
// instead of passing unnoticed. A buffer of 0 bytes points at that page itself.
#pragma once

#include <cstddef>
#include <cstdint>

class guarded_buffer {
  public:
    guarded_buffer() = default;
    explicit guarded_buffer(size_t bytes);
    ~guarded_buffer();
    guarded_buffer(guarded_buffer&& other) noexcept;
    guarded_buffer& operator=(guarded_buffer&& other) noexcept;
    guarded_buffer(const guarded_buffer&) = delete;
    guarded_buffer& operator=(const guarded_buffer&) = delete;

    // Null only when the memory could not be had.
    uint8_t* data() const { return data_; }
    size_t size() const { return size_; }

  private:
    void release();

    void* base_ = nullptr;
    uint8_t* data_ = nullptr;
    size_t size_ = 0;
};

// Whether `address` lies in the no-access page that ends a live guarded buffer, for the crash
// report: such a fault is an access past the end of something the program handed over.
bool in_guard_page(uintptr_t address);
