// The method tables are reached as the plain structures of function pointers the C form of the
// Direct3D 9 header declares, so that a replacement is assigned by name and keeps its type.
#define CINTERFACE
#include <windows.h>

#include <initguid.h>

#include <d3d9.h>

#include <cstddef>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <type_traits>
#include <utility>

#include "d3d9_fault_device.h"

namespace {

// A private method table for the objects whose own table is `own`. Made once per own table and
// never freed: an object may keep it until it is destroyed.
template <typename Table> struct hooked_table {
    const Table* own;
    Table hooked;
};
static_assert(std::is_standard_layout_v<hooked_table<IDirect3DDevice9ExVtbl>>);

std::recursive_mutex registry_mutex;
std::map<const void*, fault_device*> controls_by_device;
std::set<const void*> replacement_tables;

// The table replacing `own` (of `size` bytes: the runtime may give plain and Ex objects the
// same table), `fill` replacing its entries on first use.
template <typename Table> Table* hooked_for(const Table* own, size_t size, void (*fill)(Table&))
{
    static std::map<std::pair<const Table*, size_t>, std::unique_ptr<hooked_table<Table>>> tables;
    std::lock_guard<std::recursive_mutex> lock(registry_mutex);
    std::unique_ptr<hooked_table<Table>>& entry = tables[{own, size}];
    if (!entry) {
        entry = std::make_unique<hooked_table<Table>>();
        entry->own = own;
        std::memcpy(&entry->hooked, own, size);
        fill(entry->hooked);
        replacement_tables.insert(&entry->hooked);
    }
    return &entry->hooked;
}

// The object's own method table, behind the hooked one it carries now.
template <typename Object> auto own_methods(Object* self)
{
    using table = std::remove_const_t<std::remove_pointer_t<decltype(self->lpVtbl)>>;
    const auto* entry = reinterpret_cast<const hooked_table<table>*>(
        reinterpret_cast<const char*>(self->lpVtbl) - offsetof(hooked_table<table>, hooked));
    return entry->own;
}

fault_device* controls_of(const void* device)
{
    std::lock_guard<std::recursive_mutex> lock(registry_mutex);
    const auto found = controls_by_device.find(device);
    return found == controls_by_device.end() ? nullptr : found->second;
}

bool is_ex(IUnknown* object, REFIID ex_interface)
{
    void* ex = nullptr;
    if (FAILED(object->lpVtbl->QueryInterface(object, ex_interface, &ex)) || !ex)
        return false;
    object->lpVtbl->Release(object);
    return true;
}

// What the runtime does to an out pointer when a creation call fails: interface pointers are
// set to null, anything else is left alone.
template <typename T> void clear_if_out(T)
{}
template <typename T> void clear_if_out(T** out)
{
    if constexpr (std::is_class_v<T>) {
        if (out)
            *out = nullptr;
    }
}

// ---- swap chains ----

HRESULT WINAPI swap_chain_present(IDirect3DSwapChain9Ex* self, const RECT* src_rect,
                                  const RECT* dst_rect, HWND window, const RGNDATA* dirty,
                                  DWORD flags)
{
    IDirect3DDevice9* device = nullptr;
    fault_device* controls = nullptr;
    if (SUCCEEDED(self->lpVtbl->GetDevice(self, &device)) && device) {
        controls = controls_of(device);
        device->lpVtbl->Release(device);
    }
    if (controls) {
        ++controls->present_calls;
        if (controls->present_result != S_OK)
            return controls->present_result;
    }
    return own_methods(self)->Present(self, src_rect, dst_rect, window, dirty, flags);
}

void hook_swap_chain(IDirect3DSwapChain9* swap_chain)
{
    auto* chain = reinterpret_cast<IDirect3DSwapChain9Ex*>(swap_chain);
    {
        std::lock_guard<std::recursive_mutex> lock(registry_mutex);
        if (replacement_tables.count(chain->lpVtbl))
            return; // handed out before
    }
    const size_t size = is_ex(reinterpret_cast<IUnknown*>(swap_chain), IID_IDirect3DSwapChain9Ex)
                            ? sizeof(IDirect3DSwapChain9ExVtbl)
                            : sizeof(IDirect3DSwapChain9Vtbl);
    chain->lpVtbl = hooked_for<IDirect3DSwapChain9ExVtbl>(
        chain->lpVtbl, size,
        [](IDirect3DSwapChain9ExVtbl& table) { table.Present = swap_chain_present; });
}

// ---- the device ----

// The hook's answer for the named method; S_OK when there is none.
HRESULT injected_failure(IDirect3DDevice9Ex* device, const char* method)
{
    const fault_device* controls = controls_of(device);
    if (!controls || !controls->fail_hook)
        return S_OK;
    const HRESULT hr = controls->fail_hook(method);
    return FAILED(hr) ? hr : S_OK;
}

// A call that hands out a new object, failing when the hook says so. `slot` is the entry in
// the table, `name` the method's name as the hook is given it.
template <auto slot, const char* name> struct creation_call;
template <typename... A, HRESULT (WINAPI* IDirect3DDevice9ExVtbl::*slot)(IDirect3DDevice9Ex*, A...),
          const char* name>
struct creation_call<slot, name> {
    static HRESULT WINAPI call(IDirect3DDevice9Ex* self, A... args)
    {
        if (const HRESULT hr = injected_failure(self, name); FAILED(hr)) {
            (clear_if_out(args), ...);
            return hr;
        }
        return (own_methods(self)->*slot)(self, args...);
    }
};

HRESULT WINAPI test_cooperative_level(IDirect3DDevice9Ex* self)
{
    fault_device* controls = controls_of(self);
    if (controls) {
        ++controls->test_cooperative_level_calls;
        if (!controls->cooperative_level_results.empty()) {
            const HRESULT hr = controls->cooperative_level_results.front();
            controls->cooperative_level_results.pop_front();
            return hr;
        }
    }
    return own_methods(self)->TestCooperativeLevel(self);
}

// Counts the present and answers the planned result; S_OK lets the device present.
HRESULT planned_present(IDirect3DDevice9Ex* self)
{
    fault_device* controls = controls_of(self);
    if (!controls)
        return S_OK;
    ++controls->present_calls;
    return controls->present_result;
}

HRESULT WINAPI present(IDirect3DDevice9Ex* self, const RECT* src_rect, const RECT* dst_rect,
                       HWND window, const RGNDATA* dirty)
{
    const HRESULT planned = planned_present(self);
    return planned != S_OK ? planned
                           : own_methods(self)->Present(self, src_rect, dst_rect, window, dirty);
}

HRESULT WINAPI present_ex(IDirect3DDevice9Ex* self, const RECT* src_rect, const RECT* dst_rect,
                          HWND window, const RGNDATA* dirty, DWORD flags)
{
    const HRESULT planned = planned_present(self);
    return planned != S_OK
               ? planned
               : own_methods(self)->PresentEx(self, src_rect, dst_rect, window, dirty, flags);
}

// The swap chains the device hands out present through the planned result as well.
HRESULT WINAPI get_swap_chain(IDirect3DDevice9Ex* self, UINT index, IDirect3DSwapChain9** out)
{
    static constexpr char name[] = "GetSwapChain";
    const HRESULT hr =
        creation_call<&IDirect3DDevice9ExVtbl::GetSwapChain, name>::call(self, index, out);
    if (SUCCEEDED(hr) && out && *out)
        hook_swap_chain(*out);
    return hr;
}

HRESULT WINAPI create_additional_swap_chain(IDirect3DDevice9Ex* self,
                                            D3DPRESENT_PARAMETERS* parameters,
                                            IDirect3DSwapChain9** out)
{
    static constexpr char name[] = "CreateAdditionalSwapChain";
    const HRESULT hr =
        creation_call<&IDirect3DDevice9ExVtbl::CreateAdditionalSwapChain, name>::call(
            self, parameters, out);
    if (SUCCEEDED(hr) && out && *out)
        hook_swap_chain(*out);
    return hr;
}

#define NAMED(method) constexpr char method##_name[] = #method
NAMED(GetBackBuffer);
NAMED(CreateTexture);
NAMED(CreateVolumeTexture);
NAMED(CreateCubeTexture);
NAMED(CreateVertexBuffer);
NAMED(CreateIndexBuffer);
NAMED(CreateRenderTarget);
NAMED(CreateDepthStencilSurface);
NAMED(CreateOffscreenPlainSurface);
NAMED(CreateStateBlock);
NAMED(CreateVertexDeclaration);
NAMED(CreateVertexShader);
NAMED(CreatePixelShader);
NAMED(CreateQuery);
NAMED(CreateRenderTargetEx);
NAMED(CreateOffscreenPlainSurfaceEx);
NAMED(CreateDepthStencilSurfaceEx);
#undef NAMED
#define CREATION(method)                                                                           \
    table.method = creation_call<&IDirect3DDevice9ExVtbl::method, method##_name>::call

void fill_device_table(IDirect3DDevice9ExVtbl& table)
{
    table.TestCooperativeLevel = test_cooperative_level;
    table.Present = present;
    table.GetSwapChain = get_swap_chain;
    table.CreateAdditionalSwapChain = create_additional_swap_chain;
    CREATION(GetBackBuffer);
    CREATION(CreateTexture);
    CREATION(CreateVolumeTexture);
    CREATION(CreateCubeTexture);
    CREATION(CreateVertexBuffer);
    CREATION(CreateIndexBuffer);
    CREATION(CreateRenderTarget);
    CREATION(CreateDepthStencilSurface);
    CREATION(CreateOffscreenPlainSurface);
    CREATION(CreateStateBlock);
    CREATION(CreateVertexDeclaration);
    CREATION(CreateVertexShader);
    CREATION(CreatePixelShader);
    CREATION(CreateQuery);
}

void fill_device_ex_table(IDirect3DDevice9ExVtbl& table)
{
    fill_device_table(table);
    table.PresentEx = present_ex;
    CREATION(CreateRenderTargetEx);
    CREATION(CreateOffscreenPlainSurfaceEx);
    CREATION(CreateDepthStencilSurfaceEx);
}
#undef CREATION

} // namespace

fault_device* fault_device::wrap(IDirect3DDevice9* device)
{
    auto* controls = new fault_device(device);
    auto* self = reinterpret_cast<IDirect3DDevice9Ex*>(device);
    self->lpVtbl->AddRef(self);
    std::lock_guard<std::recursive_mutex> lock(registry_mutex);
    controls_by_device[device] = controls;
    controls->own_methods_ = self->lpVtbl;
    self->lpVtbl =
        is_ex(reinterpret_cast<IUnknown*>(device), IID_IDirect3DDevice9Ex)
            ? hooked_for(self->lpVtbl, sizeof(IDirect3DDevice9ExVtbl), fill_device_ex_table)
            : hooked_for(self->lpVtbl, sizeof(IDirect3DDevice9Vtbl), fill_device_table);
    return controls;
}

void fault_device::release()
{
    auto* self = reinterpret_cast<IDirect3DDevice9Ex*>(device_);
    {
        std::lock_guard<std::recursive_mutex> lock(registry_mutex);
        controls_by_device.erase(device_);
        self->lpVtbl = const_cast<IDirect3DDevice9ExVtbl*>(
            static_cast<const IDirect3DDevice9ExVtbl*>(own_methods_));
    }
    self->lpVtbl->Release(self);
    delete this;
}

ULONG fault_device::refcount() const
{
    auto* self = reinterpret_cast<IDirect3DDevice9Ex*>(device_);
    self->lpVtbl->AddRef(self);
    return self->lpVtbl->Release(self);
}
