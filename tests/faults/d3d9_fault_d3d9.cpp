// The method table is reached as the plain structure the C form of the header declares.
#define CINTERFACE
#include <windows.h>

#include <initguid.h>

#include <d3d9.h>

#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <utility>

#include "d3d9_creation_faults.h"
#include "d3d9_fault_d3d9.h"
#include "d3d9_fault_device.h"

namespace {

struct treated_object {
    const IDirect3D9ExVtbl* own_methods;
    fault_d3d9::device_listener listener;
    void* context;
};

std::mutex objects_mutex;
std::map<const void*, treated_object> objects;
// One replacement per own table and kind of object (the runtime may give plain and Ex objects
// the same table), kept for as long as objects may carry it.
std::map<std::pair<const IDirect3D9ExVtbl*, bool>, std::unique_ptr<IDirect3D9ExVtbl>> tables;

treated_object treatment_of(const void* d3d9)
{
    std::lock_guard<std::mutex> lock(objects_mutex);
    return objects.at(d3d9);
}

template <typename Device> HRESULT refused(HRESULT hr, Device** device)
{
    if (device)
        *device = nullptr;
    return hr;
}

void hand_out(const treated_object& treatment, IDirect3DDevice9* device)
{
    fault_device* controls = fault_device::wrap(device);
    controls->fail_hook = [](const char* method) { return creation_plan().decide(method); };
    treatment.listener(controls, treatment.context);
}

HRESULT WINAPI create_device(IDirect3D9Ex* self, UINT adapter, D3DDEVTYPE type, HWND window,
                             DWORD flags, D3DPRESENT_PARAMETERS* parameters,
                             IDirect3DDevice9** device)
{
    if (const HRESULT hr = creation_plan().decide("CreateDevice"); FAILED(hr))
        return refused(hr, device);
    const treated_object treatment = treatment_of(self);
    const HRESULT hr =
        treatment.own_methods->CreateDevice(self, adapter, type, window, flags, parameters, device);
    if (SUCCEEDED(hr) && device && *device)
        hand_out(treatment, *device);
    return hr;
}

HRESULT WINAPI create_device_ex(IDirect3D9Ex* self, UINT adapter, D3DDEVTYPE type, HWND window,
                                DWORD flags, D3DPRESENT_PARAMETERS* parameters,
                                D3DDISPLAYMODEEX* mode, IDirect3DDevice9Ex** device)
{
    if (const HRESULT hr = creation_plan().decide("CreateDeviceEx"); FAILED(hr))
        return refused(hr, device);
    const treated_object treatment = treatment_of(self);
    const HRESULT hr = treatment.own_methods->CreateDeviceEx(self, adapter, type, window, flags,
                                                             parameters, mode, device);
    if (SUCCEEDED(hr) && device && *device)
        hand_out(treatment, reinterpret_cast<IDirect3DDevice9*>(*device));
    return hr;
}

ULONG WINAPI release(IDirect3D9Ex* self)
{
    const ULONG left = treatment_of(self).own_methods->Release(self);
    if (left == 0) {
        std::lock_guard<std::mutex> lock(objects_mutex);
        objects.erase(self);
    }
    return left;
}

} // namespace

void fault_d3d9::wrap(IDirect3D9* d3d9, device_listener listener, void* context)
{
    auto* self = reinterpret_cast<IDirect3D9Ex*>(d3d9);
    void* ex = nullptr;
    const bool is_ex =
        SUCCEEDED(self->lpVtbl->QueryInterface(self, IID_IDirect3D9Ex, &ex)) && ex != nullptr;
    if (is_ex)
        self->lpVtbl->Release(self);
    std::lock_guard<std::mutex> lock(objects_mutex);
    std::unique_ptr<IDirect3D9ExVtbl>& table = tables[{self->lpVtbl, is_ex}];
    if (!table) {
        table = std::make_unique<IDirect3D9ExVtbl>();
        std::memcpy(table.get(), self->lpVtbl,
                    is_ex ? sizeof(IDirect3D9ExVtbl) : sizeof(IDirect3D9Vtbl));
        table->Release = release;
        table->CreateDevice = create_device;
        if (is_ex)
            table->CreateDeviceEx = create_device_ex;
    }
    objects[self] = {self->lpVtbl, listener, context};
    self->lpVtbl = table.get();
}

int fault_d3d9::alive()
{
    std::lock_guard<std::mutex> lock(objects_mutex);
    return static_cast<int>(objects.size());
}
