// Fails chosen methods of real COM objects. A method_patch writes one entry of an object's
// method table in place (so the object and its table pointer stay what the platform made, and
// the platform still recognises objects handed back to it) and restores it when it goes. A
// table is shared by every object of its class: the hook answers only calls on objects in
// com_targets (or on every object when the patch says so), and calls made while a
// bypass_faults lives on the calling thread; everything else reaches the saved original.
//
// The interface of the member is the one the object pointer has: only slots that exist on it
// are written, which matters where plain and Ex objects share one table.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstring>
#include <functional>

namespace com_patch_detail {

// Writes `value` into `slot` of `table`; the first write of a slot keeps the platform's entry,
// later ones are counted. restore_slot undoes one write.
void write_slot(void** table, size_t slot, void* value);
void restore_slot(void** table, size_t slot);
// The platform's entry of a patched slot.
void* original_slot(void** table, size_t slot);
bool hooked(const void* object, bool every_object);

inline void** table_of(const void* object)
{
    return *static_cast<void** const*>(object);
}

// GCC's pointer to a virtual member holds one plus the entry's byte offset in the table.
template <class M> size_t slot_of(M member)
{
    static_assert(sizeof(M) == 2 * sizeof(void*), "a pointer to member of the GCC layout");
    uintptr_t raw = 0;
    std::memcpy(&raw, &member, sizeof(raw));
    return (raw - 1) / sizeof(void*);
}

template <class M> struct method;
template <class R, class I, class... A> struct method<R (STDMETHODCALLTYPE I::*)(A...)> {
    using object = I;
    using hook = std::function<R(I*, A...)>;
    using entry = R(STDMETHODCALLTYPE*)(I*, A...);
    template <hook& answer, size_t& slot, bool& every_object>
    static R STDMETHODCALLTYPE thunk(I* self, A... args)
    {
        if (answer && hooked(self, every_object))
            return answer(self, args...);
        return original(slot, self, args...);
    }
    static R original(size_t slot, I* self, A... args)
    {
        return reinterpret_cast<entry>(original_slot(table_of(self), slot))(self, args...);
    }
};

} // namespace com_patch_detail

// The objects whose patched methods are hooked; the scope of a registration is the object's.
namespace com_targets {
void add(const void* object);
void remove(const void* object);
void clear();
} // namespace com_targets

// While it lives, patched methods called on this thread reach the platform.
class bypass_faults {
  public:
    bypass_faults();
    ~bypass_faults();
    bypass_faults(const bypass_faults&) = delete;
    bypass_faults& operator=(const bypass_faults&) = delete;
};

// Hooks `Member` (e.g. &ID3D11Device::CreateTexture2D) on the table of `on`, for the objects
// in com_targets or, with `every_object`, for all. One hook per member at a time; the hook
// reaches the platform through original().
template <auto Member> class method_patch {
    using method = com_patch_detail::method<decltype(Member)>;
    using object = typename method::object;

  public:
    using hook = typename method::hook;

    method_patch(object* on, hook answer, bool every_object = false)
        : table_(com_patch_detail::table_of(on))
    {
        slot_ = com_patch_detail::slot_of(Member);
        answer_ = std::move(answer);
        every_ = every_object;
        com_patch_detail::write_slot(
            table_, slot_,
            reinterpret_cast<void*>(&method::template thunk<answer_, slot_, every_>));
    }
    ~method_patch()
    {
        com_patch_detail::restore_slot(table_, slot_);
        answer_ = nullptr;
    }
    method_patch(const method_patch&) = delete;
    method_patch& operator=(const method_patch&) = delete;

    template <class... A> static auto original(object* self, A... args)
    {
        return method::original(slot_, self, args...);
    }

  private:
    void** table_;
    static inline hook answer_;
    static inline size_t slot_ = 0;
    static inline bool every_ = false;
};
