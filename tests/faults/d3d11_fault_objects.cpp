#include "d3d11_fault_objects.h"

#include <d3d10.h>
#include <dxgi1_2.h>

#include <atomic>
#include <initializer_list>

#include "com_forwarder.h"
#include "d3d11_fault_swap_chain.h"

namespace {

std::atomic<int> alive{0};
std::vector<made_device> made;

// The failure planned for `call`, or S_OK.
HRESULT planned(const std::string& call)
{
    return plan().fails(call) ? d3d11_failure_code(call) : S_OK;
}

template <typename T> HRESULT refused(HRESULT failure, T** out)
{
    if (out)
        *out = nullptr;
    return failure;
}

// A forwarding DXGI object: IDXGIObject's own calls go to the real object.
template <class I> class dxgi_forwarder : public com_forwarder<I> {
  public:
    STDMETHODIMP SetPrivateData(REFGUID guid, UINT size, const void* data) override
    {
        return this->in_->SetPrivateData(guid, size, data);
    }
    STDMETHODIMP SetPrivateDataInterface(REFGUID guid, const IUnknown* object) override
    {
        return this->in_->SetPrivateDataInterface(guid, object);
    }
    STDMETHODIMP GetPrivateData(REFGUID guid, UINT* size, void* data) override
    {
        return this->in_->GetPrivateData(guid, size, data);
    }
    STDMETHODIMP GetParent(REFIID riid, void** parent) override
    {
        return this->in_->GetParent(riid, parent);
    }

  protected:
    explicit dxgi_forwarder(I* inner) : com_forwarder<I>(inner, alive) {}
};

class fault_factory final : public dxgi_forwarder<IDXGIFactory2> {
  public:
    explicit fault_factory(IDXGIFactory2* inner) : dxgi_forwarder(inner) {}

    STDMETHODIMP QueryInterface(REFIID riid, void** object) override
    {
        return query(riid,
                     {__uuidof(IDXGIObject), __uuidof(IDXGIFactory), __uuidof(IDXGIFactory1),
                      __uuidof(IDXGIFactory2)},
                     object);
    }
    STDMETHODIMP EnumAdapters(UINT index, IDXGIAdapter** adapter) override
    {
        return in_->EnumAdapters(index, adapter);
    }
    STDMETHODIMP MakeWindowAssociation(HWND window, UINT flags) override
    {
        return in_->MakeWindowAssociation(window, flags);
    }
    STDMETHODIMP GetWindowAssociation(HWND* window) override
    {
        return in_->GetWindowAssociation(window);
    }
    STDMETHODIMP CreateSwapChain(IUnknown* device, DXGI_SWAP_CHAIN_DESC* desc,
                                 IDXGISwapChain** swap_chain) override
    {
        if (const HRESULT failure = planned(d3d11_calls::create_swap_chain))
            return refused(failure, swap_chain);
        return in_->CreateSwapChain(device, desc, swap_chain);
    }
    STDMETHODIMP CreateSoftwareAdapter(HMODULE module, IDXGIAdapter** adapter) override
    {
        return in_->CreateSoftwareAdapter(module, adapter);
    }
    STDMETHODIMP EnumAdapters1(UINT index, IDXGIAdapter1** adapter) override
    {
        return in_->EnumAdapters1(index, adapter);
    }
    STDMETHODIMP_(WINBOOL) IsCurrent() override { return in_->IsCurrent(); }
    STDMETHODIMP_(WINBOOL) IsWindowedStereoEnabled() override
    {
        return in_->IsWindowedStereoEnabled();
    }
    STDMETHODIMP CreateSwapChainForHwnd(IUnknown* device, HWND window,
                                        const DXGI_SWAP_CHAIN_DESC1* desc,
                                        const DXGI_SWAP_CHAIN_FULLSCREEN_DESC* fullscreen,
                                        IDXGIOutput* output, IDXGISwapChain1** swap_chain) override
    {
        return in_->CreateSwapChainForHwnd(device, window, desc, fullscreen, output, swap_chain);
    }
    STDMETHODIMP CreateSwapChainForCoreWindow(IUnknown* device, IUnknown* window,
                                              const DXGI_SWAP_CHAIN_DESC1* desc,
                                              IDXGIOutput* output,
                                              IDXGISwapChain1** swap_chain) override
    {
        return in_->CreateSwapChainForCoreWindow(device, window, desc, output, swap_chain);
    }
    STDMETHODIMP GetSharedResourceAdapterLuid(HANDLE resource, LUID* luid) override
    {
        return in_->GetSharedResourceAdapterLuid(resource, luid);
    }
    STDMETHODIMP RegisterStereoStatusWindow(HWND window, UINT message, DWORD* cookie) override
    {
        return in_->RegisterStereoStatusWindow(window, message, cookie);
    }
    STDMETHODIMP RegisterStereoStatusEvent(HANDLE event, DWORD* cookie) override
    {
        return in_->RegisterStereoStatusEvent(event, cookie);
    }
    STDMETHODIMP_(void) UnregisterStereoStatus(DWORD cookie) override
    {
        in_->UnregisterStereoStatus(cookie);
    }
    STDMETHODIMP RegisterOcclusionStatusWindow(HWND window, UINT message, DWORD* cookie) override
    {
        return in_->RegisterOcclusionStatusWindow(window, message, cookie);
    }
    STDMETHODIMP RegisterOcclusionStatusEvent(HANDLE event, DWORD* cookie) override
    {
        return in_->RegisterOcclusionStatusEvent(event, cookie);
    }
    STDMETHODIMP_(void) UnregisterOcclusionStatus(DWORD cookie) override
    {
        in_->UnregisterOcclusionStatus(cookie);
    }
    STDMETHODIMP CreateSwapChainForComposition(IUnknown* device, const DXGI_SWAP_CHAIN_DESC1* desc,
                                               IDXGIOutput* output,
                                               IDXGISwapChain1** swap_chain) override
    {
        return in_->CreateSwapChainForComposition(device, desc, output, swap_chain);
    }
};

class fault_adapter final : public dxgi_forwarder<IDXGIAdapter> {
  public:
    explicit fault_adapter(IDXGIAdapter* inner) : dxgi_forwarder(inner) {}

    STDMETHODIMP QueryInterface(REFIID riid, void** object) override
    {
        return query(riid, {__uuidof(IDXGIObject), __uuidof(IDXGIAdapter)}, object);
    }
    // The factory the backend asks for is handed out in a wrapper.
    STDMETHODIMP GetParent(REFIID riid, void** parent) override
    {
        if (!parent || !IsEqualGUID(riid, __uuidof(IDXGIFactory2)))
            return in_->GetParent(riid, parent);
        if (const HRESULT failure = planned(d3d11_calls::get_factory))
            return refused(failure, parent);
        IDXGIFactory2* factory = nullptr;
        const HRESULT result = in_->GetParent(riid, reinterpret_cast<void**>(&factory));
        *parent = SUCCEEDED(result) && factory
                      ? static_cast<IDXGIFactory2*>(new fault_factory(factory))
                      : nullptr;
        return result;
    }
    STDMETHODIMP EnumOutputs(UINT index, IDXGIOutput** output) override
    {
        return in_->EnumOutputs(index, output);
    }
    STDMETHODIMP GetDesc(DXGI_ADAPTER_DESC* desc) override { return in_->GetDesc(desc); }
    STDMETHODIMP CheckInterfaceSupport(REFGUID guid, LARGE_INTEGER* version) override
    {
        return in_->CheckInterfaceSupport(guid, version);
    }
};

class fault_dxgi_device final : public dxgi_forwarder<IDXGIDevice> {
  public:
    explicit fault_dxgi_device(IDXGIDevice* inner) : dxgi_forwarder(inner) {}

    STDMETHODIMP QueryInterface(REFIID riid, void** object) override
    {
        return query(riid, {__uuidof(IDXGIObject), __uuidof(IDXGIDevice)}, object);
    }
    STDMETHODIMP GetAdapter(IDXGIAdapter** adapter) override
    {
        if (const HRESULT failure = planned(d3d11_calls::get_adapter))
            return refused(failure, adapter);
        IDXGIAdapter* real = nullptr;
        const HRESULT result = in_->GetAdapter(&real);
        *adapter = SUCCEEDED(result) && real ? new fault_adapter(real) : nullptr;
        return result;
    }
    STDMETHODIMP CreateSurface(const DXGI_SURFACE_DESC* desc, UINT count, DXGI_USAGE usage,
                               const DXGI_SHARED_RESOURCE* shared, IDXGISurface** surface) override
    {
        return in_->CreateSurface(desc, count, usage, shared, surface);
    }
    STDMETHODIMP QueryResourceResidency(IUnknown* const* resources, DXGI_RESIDENCY* residency,
                                        UINT count) override
    {
        return in_->QueryResourceResidency(resources, residency, count);
    }
    STDMETHODIMP SetGPUThreadPriority(INT priority) override
    {
        return in_->SetGPUThreadPriority(priority);
    }
    STDMETHODIMP GetGPUThreadPriority(INT* priority) override
    {
        return in_->GetGPUThreadPriority(priority);
    }
};

// The device's answer to the backend's queries: its IDXGIDevice in a wrapper.
HRESULT query_device(ID3D11Device* inner, REFIID riid, void** object)
{
    if (object && IsEqualGUID(riid, __uuidof(IDXGIDevice))) {
        if (const HRESULT failure = planned(d3d11_calls::query_dxgi_device))
            return refused(failure, object);
        IDXGIDevice* real = nullptr;
        const HRESULT result = inner->QueryInterface(riid, reinterpret_cast<void**>(&real));
        *object = SUCCEEDED(result) && real ? static_cast<IDXGIDevice*>(new fault_dxgi_device(real))
                                            : nullptr;
        return result;
    }
    if (object && IsEqualGUID(riid, __uuidof(ID3D10Multithread))) {
        if (const HRESULT failure = planned(d3d11_calls::query_multithread))
            return refused(failure, object);
    }
    return inner->QueryInterface(riid, object);
}

HRESULT swap_chain_call(const char* method)
{
    return planned(std::string("IDXGISwapChain::") + method);
}

using create_device_function = HRESULT(WINAPI*)(IDXGIAdapter*, D3D_DRIVER_TYPE, HMODULE, UINT,
                                                const D3D_FEATURE_LEVEL*, UINT, UINT,
                                                ID3D11Device**, D3D_FEATURE_LEVEL*,
                                                ID3D11DeviceContext**);
create_device_function real_create = nullptr;

HRESULT WINAPI create_watched(IDXGIAdapter* adapter, D3D_DRIVER_TYPE driver, HMODULE software,
                              UINT flags, const D3D_FEATURE_LEVEL* levels, UINT level_count,
                              UINT sdk_version, ID3D11Device** device, D3D_FEATURE_LEVEL* level,
                              ID3D11DeviceContext** context)
{
    if (const HRESULT failure = planned(d3d11_calls::create_device(driver))) {
        refused(failure, device);
        return refused(failure, context);
    }
    made_device record;
    const HRESULT result = real_create(adapter, driver, software, flags, levels, level_count,
                                       sdk_version, &record.real, level, &record.context);
    if (FAILED(result) || !record.real) {
        refused(result, device);
        return refused(result, context);
    }
    record.handed = nv12_standin_device::wrap(record.real);
    record.handed->stand_in_for_nv12 = d3d11_interception::stand_in_for_nv12;
    d3d11_interception::watch(record.handed);
    record.handed->AddRef();
    made.push_back(record);
    if (device)
        *device = record.handed;
    else
        record.handed->Release();
    if (context)
        *context = record.context;
    else
        record.context->Release();
    return result;
}

} // namespace

bool d3d11_interception::stand_in_for_nv12 = true;

std::string d3d11_calls::create_device(D3D_DRIVER_TYPE driver)
{
    switch (driver) {
    case D3D_DRIVER_TYPE_HARDWARE:
        return "D3D11CreateDevice(hardware)";
    case D3D_DRIVER_TYPE_WARP:
        return "D3D11CreateDevice(WARP)";
    case D3D_DRIVER_TYPE_REFERENCE:
        return "D3D11CreateDevice(reference)";
    default:
        return "D3D11CreateDevice(" + std::to_string(static_cast<int>(driver)) + ")";
    }
}

std::string d3d11_calls::device_call(const std::string& method)
{
    return "ID3D11Device::" + method;
}

HRESULT d3d11_failure_code(const std::string& call)
{
    if (call.find("D3D11CreateDevice") == 0)
        return DXGI_ERROR_UNSUPPORTED;
    if (call.find("QueryInterface") != std::string::npos || call == d3d11_calls::get_factory)
        return E_NOINTERFACE;
    if (call == d3d11_calls::create_swap_chain)
        return DXGI_ERROR_INVALID_CALL;
    if (call.find("IDXGI") == 0)
        return DXGI_ERROR_DEVICE_REMOVED;
    return E_OUTOFMEMORY;
}

d3d11_interception::d3d11_interception()
    : patch_("d3d11.dll", "D3D11CreateDevice", reinterpret_cast<void*>(&create_watched))
{
    real_create = reinterpret_cast<create_device_function>(patch_.original());
    fault_dxgi_swap_chain::fail_hook = swap_chain_call;
}

d3d11_interception::~d3d11_interception()
{
    fault_dxgi_swap_chain::fail_hook = nullptr;
    for (const made_device& device : take_made_devices()) {
        device.handed->Release();
        device.real->Release();
    }
}

void d3d11_interception::watch(nv12_standin_device* device)
{
    device->fail_hook = [](const std::string& method) {
        return planned(d3d11_calls::device_call(method));
    };
    ID3D11Device* inner = device->inner();
    device->query_hook = [inner](REFIID riid, void** object) {
        return query_device(inner, riid, object);
    };
}

void d3d11_interception::unwatch(nv12_standin_device* device)
{
    device->fail_hook = nullptr;
    device->query_hook = nullptr;
}

std::vector<made_device> d3d11_interception::take_made_devices()
{
    std::vector<made_device> taken;
    taken.swap(made);
    return taken;
}

int d3d11_interception::wrappers_alive()
{
    return alive.load();
}
