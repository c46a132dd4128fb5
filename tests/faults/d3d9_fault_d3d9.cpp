#include "d3d9_fault_d3d9.h"

#include <type_traits>

#include "d3d9_creation_faults.h"
#include "d3d9_fault_device.h"

static_assert(!std::is_abstract_v<fault_d3d9>);

std::atomic<int> fault_d3d9::alive_{0};

fault_d3d9* fault_d3d9::wrap(IDirect3D9* inner, device_listener listener, void* context)
{
    return new fault_d3d9(inner, listener, context);
}

fault_d3d9::fault_d3d9(IDirect3D9* inner, device_listener listener, void* context)
    : inner_(inner), listener_(listener), context_(context)
{
    void* ex = nullptr;
    if (SUCCEEDED(inner->QueryInterface(__uuidof(IDirect3D9Ex), &ex)) && ex) {
        inner_ex_ = static_cast<IDirect3D9Ex*>(ex);
        inner_ex_->Release(); // the same object as inner_, which holds the reference
    }
    ++alive_;
}

fault_d3d9::~fault_d3d9()
{
    inner_->Release();
    --alive_;
}

fault_device* fault_d3d9::hand_out(IDirect3DDevice9* real_device)
{
    fault_device* device = fault_device::wrap(real_device);
    real_device->Release(); // the wrapper holds the device now
    device->fail_hook = [](const char* method) { return creation_plan().decide(method); };
    if (listener_)
        listener_(device, context_);
    return device;
}

STDMETHODIMP fault_d3d9::QueryInterface(REFIID riid, void** object)
{
    if (!object)
        return E_POINTER;
    if (IsEqualGUID(riid, __uuidof(IUnknown)) || IsEqualGUID(riid, __uuidof(IDirect3D9)) ||
        (inner_ex_ && IsEqualGUID(riid, __uuidof(IDirect3D9Ex)))) {
        AddRef();
        *object = static_cast<IDirect3D9Ex*>(this);
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) fault_d3d9::AddRef()
{
    return ++refs_;
}

STDMETHODIMP_(ULONG) fault_d3d9::Release()
{
    const ULONG left = --refs_;
    if (left == 0)
        delete this;
    return left;
}

// ---- the two creation calls ----

STDMETHODIMP fault_d3d9::CreateDevice(UINT adapter, D3DDEVTYPE device_type, HWND focus_window,
                                      DWORD flags, D3DPRESENT_PARAMETERS* parameters,
                                      IDirect3DDevice9** device)
{
    if (const HRESULT refused = creation_plan().decide("CreateDevice"); FAILED(refused)) {
        if (device)
            *device = nullptr;
        return refused;
    }
    const HRESULT hr =
        inner_->CreateDevice(adapter, device_type, focus_window, flags, parameters, device);
    if (SUCCEEDED(hr) && device && *device)
        *device = hand_out(*device);
    return hr;
}

STDMETHODIMP fault_d3d9::CreateDeviceEx(UINT adapter, D3DDEVTYPE device_type, HWND focus_window,
                                        DWORD flags, D3DPRESENT_PARAMETERS* parameters,
                                        D3DDISPLAYMODEEX* mode, IDirect3DDevice9Ex** device)
{
    if (!inner_ex_)
        return D3DERR_INVALIDCALL;
    if (const HRESULT refused = creation_plan().decide("CreateDeviceEx"); FAILED(refused)) {
        if (device)
            *device = nullptr;
        return refused;
    }
    const HRESULT hr = inner_ex_->CreateDeviceEx(adapter, device_type, focus_window, flags,
                                                 parameters, mode, device);
    if (SUCCEEDED(hr) && device && *device)
        *device = hand_out(*device);
    return hr;
}

// ---- plain forwarding ----

STDMETHODIMP fault_d3d9::RegisterSoftwareDevice(void* initialize)
{
    return inner_->RegisterSoftwareDevice(initialize);
}

STDMETHODIMP_(UINT) fault_d3d9::GetAdapterCount()
{
    return inner_->GetAdapterCount();
}

STDMETHODIMP fault_d3d9::GetAdapterIdentifier(UINT adapter, DWORD flags,
                                              D3DADAPTER_IDENTIFIER9* identifier)
{
    return inner_->GetAdapterIdentifier(adapter, flags, identifier);
}

STDMETHODIMP_(UINT) fault_d3d9::GetAdapterModeCount(UINT adapter, D3DFORMAT format)
{
    return inner_->GetAdapterModeCount(adapter, format);
}

STDMETHODIMP fault_d3d9::EnumAdapterModes(UINT adapter, D3DFORMAT format, UINT mode_index,
                                          D3DDISPLAYMODE* mode)
{
    return inner_->EnumAdapterModes(adapter, format, mode_index, mode);
}

STDMETHODIMP fault_d3d9::GetAdapterDisplayMode(UINT adapter, D3DDISPLAYMODE* mode)
{
    return inner_->GetAdapterDisplayMode(adapter, mode);
}

STDMETHODIMP fault_d3d9::CheckDeviceType(UINT adapter, D3DDEVTYPE device_type,
                                         D3DFORMAT display_format, D3DFORMAT backbuffer_format,
                                         WINBOOL windowed)
{
    return inner_->CheckDeviceType(adapter, device_type, display_format, backbuffer_format,
                                   windowed);
}

STDMETHODIMP fault_d3d9::CheckDeviceFormat(UINT adapter, D3DDEVTYPE device_type,
                                           D3DFORMAT adapter_format, DWORD usage,
                                           D3DRESOURCETYPE resource_type, D3DFORMAT format)
{
    return inner_->CheckDeviceFormat(adapter, device_type, adapter_format, usage, resource_type,
                                     format);
}

STDMETHODIMP fault_d3d9::CheckDeviceMultiSampleType(UINT adapter, D3DDEVTYPE device_type,
                                                    D3DFORMAT surface_format, WINBOOL windowed,
                                                    D3DMULTISAMPLE_TYPE multisample,
                                                    DWORD* quality_levels)
{
    return inner_->CheckDeviceMultiSampleType(adapter, device_type, surface_format, windowed,
                                              multisample, quality_levels);
}

STDMETHODIMP fault_d3d9::CheckDepthStencilMatch(UINT adapter, D3DDEVTYPE device_type,
                                                D3DFORMAT adapter_format, D3DFORMAT target_format,
                                                D3DFORMAT depth_format)
{
    return inner_->CheckDepthStencilMatch(adapter, device_type, adapter_format, target_format,
                                          depth_format);
}

STDMETHODIMP fault_d3d9::CheckDeviceFormatConversion(UINT adapter, D3DDEVTYPE device_type,
                                                     D3DFORMAT src_format, D3DFORMAT dst_format)
{
    return inner_->CheckDeviceFormatConversion(adapter, device_type, src_format, dst_format);
}

STDMETHODIMP fault_d3d9::GetDeviceCaps(UINT adapter, D3DDEVTYPE device_type, D3DCAPS9* caps)
{
    return inner_->GetDeviceCaps(adapter, device_type, caps);
}

STDMETHODIMP_(HMONITOR) fault_d3d9::GetAdapterMonitor(UINT adapter)
{
    return inner_->GetAdapterMonitor(adapter);
}

STDMETHODIMP_(UINT)
fault_d3d9::GetAdapterModeCountEx(UINT adapter, const D3DDISPLAYMODEFILTER* filter)
{
    return inner_ex_ ? inner_ex_->GetAdapterModeCountEx(adapter, filter) : 0;
}

STDMETHODIMP fault_d3d9::EnumAdapterModesEx(UINT adapter, const D3DDISPLAYMODEFILTER* filter,
                                            UINT mode_index, D3DDISPLAYMODEEX* mode)
{
    return inner_ex_ ? inner_ex_->EnumAdapterModesEx(adapter, filter, mode_index, mode)
                     : D3DERR_INVALIDCALL;
}

STDMETHODIMP fault_d3d9::GetAdapterDisplayModeEx(UINT adapter, D3DDISPLAYMODEEX* mode,
                                                 D3DDISPLAYROTATION* rotation)
{
    return inner_ex_ ? inner_ex_->GetAdapterDisplayModeEx(adapter, mode, rotation)
                     : D3DERR_INVALIDCALL;
}

STDMETHODIMP fault_d3d9::GetAdapterLUID(UINT adapter, LUID* luid)
{
    return inner_ex_ ? inner_ex_->GetAdapterLUID(adapter, luid) : D3DERR_INVALIDCALL;
}
