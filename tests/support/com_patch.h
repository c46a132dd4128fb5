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

#include <unknwn.h>

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
    template <class P> static R STDMETHODCALLTYPE thunk(I* self, A... args)
    {
        return P::dispatch(hooked(self, P::every_object()) ? P::top() : nullptr, self, args...);
    }
    static R platform(size_t slot, I* self, A... args)
    {
        return reinterpret_cast<entry>(original_slot(table_of(self), slot))(self, args...);
    }
};

} // namespace com_patch_detail

// The objects whose patched methods are hooked; the scope of a registration is the object's.
namespace com_targets {
void add(const void* object);
void remove(const void* object);
} // namespace com_targets

// The reference count of `object` as it stands.
inline ULONG reference_count(IUnknown* object)
{
    object->AddRef();
    return object->Release();
}

// While it lives, patched methods called on this thread reach the platform.
class bypass_faults {
  public:
    bypass_faults();
    ~bypass_faults();
    bypass_faults(const bypass_faults&) = delete;
    bypass_faults& operator=(const bypass_faults&) = delete;
};

// Hooks `Member` (e.g. &ID3D11Device::CreateTexture2D) on the table of `on`, for the objects
// in com_targets or, with `every_object`, for all. A member patched again is answered by the
// later hook first, which hands calls on to the earlier one (or the platform) with next();
// patches of one member end in the reverse order of their making.
template <auto Member> class method_patch {
    using method = com_patch_detail::method<decltype(Member)>;
    using object = typename method::object;

  public:
    using hook = typename method::hook;

    method_patch(object* on, hook answer, bool every_object = false)
        : table_(com_patch_detail::table_of(on)), answer_(std::move(answer)), below_(top_),
          every_object_(every_object || (below_ && below_->every_object_))
    {
        top_ = this;
        com_patch_detail::write_slot(
            table_, slot(), reinterpret_cast<void*>(&method::template thunk<method_patch>));
    }
    ~method_patch()
    {
        com_patch_detail::restore_slot(table_, slot());
        top_ = below_;
    }
    method_patch(const method_patch&) = delete;
    method_patch& operator=(const method_patch&) = delete;

    // Inside a hook: the hook below it, or the platform.
    template <class... A> static auto next(object* self, A... args)
    {
        return dispatch(current_ ? current_->below_ : nullptr, self, args...);
    }
    // The platform's method, hooks skipped.
    template <class... A> static auto original(object* self, A... args)
    {
        return method::platform(slot(), self, args...);
    }

    template <class... A> static auto dispatch(method_patch* level, object* self, A... args)
    {
        if (!level)
            return original(self, args...);
        struct level_scope {
            method_patch* saved = current_;
            ~level_scope() { current_ = saved; }
        } scope;
        current_ = level;
        return level->answer_(self, args...);
    }
    static method_patch* top() { return top_; }
    static bool every_object() { return top_ && top_->every_object_; }

  private:
    static size_t slot() { return com_patch_detail::slot_of(Member); }

    void** table_;
    hook answer_;
    method_patch* below_;
    bool every_object_;
    static inline method_patch* top_ = nullptr;
    static inline thread_local method_patch* current_ = nullptr;
};
