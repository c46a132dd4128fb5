#include "guarded_buffer.h"

#include <windows.h>

#include <set>
#include <utility>

namespace {

size_t page_size()
{
    static const size_t size = [] {
        SYSTEM_INFO info;
        GetSystemInfo(&info);
        return static_cast<size_t>(info.dwPageSize);
    }();
    return size;
}

// Start addresses of the guard pages of the live buffers. The program is single-threaded
// apart from its watchdog, which never touches buffers.
std::set<uintptr_t>& guard_pages()
{
    static std::set<uintptr_t> pages;
    return pages;
}

} // namespace

guarded_buffer::guarded_buffer(size_t bytes)
{
    const size_t page = page_size();
    const size_t usable_pages = (bytes + page - 1) / page;
    const size_t total = (usable_pages + 1) * page;
    auto* base = static_cast<uint8_t*>(
        VirtualAlloc(nullptr, total, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    if (!base)
        return;
    uint8_t* guard = base + usable_pages * page;
    DWORD old_protection = 0;
    if (!VirtualProtect(guard, page, PAGE_NOACCESS, &old_protection)) {
        VirtualFree(base, 0, MEM_RELEASE);
        return;
    }
    base_ = base;
    data_ = guard - bytes;
    size_ = bytes;
    guard_pages().insert(reinterpret_cast<uintptr_t>(guard));
}

guarded_buffer::~guarded_buffer()
{
    release();
}

guarded_buffer::guarded_buffer(guarded_buffer&& other) noexcept
    : base_(std::exchange(other.base_, nullptr)), data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0))
{}

guarded_buffer& guarded_buffer::operator=(guarded_buffer&& other) noexcept
{
    if (this != &other) {
        release();
        base_ = std::exchange(other.base_, nullptr);
        data_ = std::exchange(other.data_, nullptr);
        size_ = std::exchange(other.size_, 0);
    }
    return *this;
}

void guarded_buffer::release()
{
    if (!base_)
        return;
    guard_pages().erase(reinterpret_cast<uintptr_t>(data_ + size_));
    VirtualFree(base_, 0, MEM_RELEASE);
    base_ = nullptr;
    data_ = nullptr;
    size_ = 0;
}

bool in_guard_page(uintptr_t address)
{
    const std::set<uintptr_t>& pages = guard_pages();
    auto above = pages.upper_bound(address);
    if (above == pages.begin())
        return false;
    --above;
    return address - *above < page_size();
}
