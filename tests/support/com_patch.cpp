#include "com_patch.h"

#include <map>
#include <mutex>
#include <set>
#include <utility>

namespace {

struct patched_slot {
    void* original;
    int writes;
};

std::mutex registry_mutex;
std::map<std::pair<void**, size_t>, patched_slot> patched;
std::set<const void*> targets;
thread_local int bypass_depth = 0;

// Method tables live in read-only sections.
void write_entry(void** entry, void* value)
{
    DWORD protection = 0;
    VirtualProtect(entry, sizeof(void*), PAGE_READWRITE, &protection);
    *entry = value;
    VirtualProtect(entry, sizeof(void*), protection, &protection);
    FlushInstructionCache(GetCurrentProcess(), entry, sizeof(void*));
}

} // namespace

namespace com_patch_detail {

void write_slot(void** table, size_t slot, void* value)
{
    std::lock_guard<std::mutex> lock(registry_mutex);
    auto found = patched.find({table, slot});
    if (found != patched.end()) {
        ++found->second.writes;
        return;
    }
    patched[{table, slot}] = {table[slot], 1};
    write_entry(table + slot, value);
}

void restore_slot(void** table, size_t slot)
{
    std::lock_guard<std::mutex> lock(registry_mutex);
    auto found = patched.find({table, slot});
    if (found == patched.end() || --found->second.writes > 0)
        return;
    write_entry(table + slot, found->second.original);
    patched.erase(found);
}

void* original_slot(void** table, size_t slot)
{
    std::lock_guard<std::mutex> lock(registry_mutex);
    auto found = patched.find({table, slot});
    return found == patched.end() ? table[slot] : found->second.original;
}

bool hooked(const void* object, bool every_object)
{
    if (bypass_depth > 0)
        return false;
    std::lock_guard<std::mutex> lock(registry_mutex);
    return every_object || targets.count(object) != 0;
}

} // namespace com_patch_detail

namespace com_targets {

void add(const void* object)
{
    std::lock_guard<std::mutex> lock(registry_mutex);
    targets.insert(object);
}

void remove(const void* object)
{
    std::lock_guard<std::mutex> lock(registry_mutex);
    targets.erase(object);
}

} // namespace com_targets

bypass_faults::bypass_faults()
{
    ++bypass_depth;
}

bypass_faults::~bypass_faults()
{
    --bypass_depth;
}
