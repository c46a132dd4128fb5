#include "d3d11_fault_swap_chain.h"

#include <type_traits>

#include "d3d11_render/d3d11_manager.h"

static_assert(!std::is_abstract_v<fault_dxgi_swap_chain>);

HRESULT (*fault_dxgi_swap_chain::fail_hook)(const char* method) = nullptr;

namespace {

HRESULT injected_failure(const char* method)
{
    if (!fault_dxgi_swap_chain::fail_hook)
        return S_OK;
    const HRESULT result = fault_dxgi_swap_chain::fail_hook(method);
    return FAILED(result) ? result : S_OK;
}

} // namespace

fault_dxgi_swap_chain::fault_dxgi_swap_chain(IDXGISwapChain* inner) : inner_(inner)
{}

fault_dxgi_swap_chain::~fault_dxgi_swap_chain()
{
    inner_->Release();
}

DXGI_SWAP_CHAIN_DESC fault_dxgi_swap_chain::description() const
{
    DXGI_SWAP_CHAIN_DESC desc = {};
    inner_->GetDesc(&desc);
    return desc;
}

STDMETHODIMP fault_dxgi_swap_chain::QueryInterface(REFIID riid, void** object)
{
    if (!object)
        return E_POINTER;
    if (IsEqualGUID(riid, __uuidof(IUnknown)) || IsEqualGUID(riid, __uuidof(IDXGIObject)) ||
        IsEqualGUID(riid, __uuidof(IDXGIDeviceSubObject)) ||
        IsEqualGUID(riid, __uuidof(IDXGISwapChain))) {
        AddRef();
        *object = static_cast<IDXGISwapChain*>(this);
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) fault_dxgi_swap_chain::AddRef()
{
    return ++refs_;
}

STDMETHODIMP_(ULONG) fault_dxgi_swap_chain::Release()
{
    const ULONG left = --refs_;
    if (left == 0)
        delete this;
    return left;
}

STDMETHODIMP fault_dxgi_swap_chain::SetPrivateData(REFGUID guid, UINT data_size, const void* data)
{
    return inner_->SetPrivateData(guid, data_size, data);
}

STDMETHODIMP fault_dxgi_swap_chain::SetPrivateDataInterface(REFGUID guid, const IUnknown* object)
{
    return inner_->SetPrivateDataInterface(guid, object);
}

STDMETHODIMP fault_dxgi_swap_chain::GetPrivateData(REFGUID guid, UINT* data_size, void* data)
{
    return inner_->GetPrivateData(guid, data_size, data);
}

STDMETHODIMP fault_dxgi_swap_chain::GetParent(REFIID riid, void** parent)
{
    return inner_->GetParent(riid, parent);
}

STDMETHODIMP fault_dxgi_swap_chain::GetDevice(REFIID riid, void** device)
{
    return inner_->GetDevice(riid, device);
}

STDMETHODIMP fault_dxgi_swap_chain::Present(UINT sync_interval, UINT flags)
{
    ++present_calls;
    ID3D11Texture2D* buffer = nullptr;
    if (SUCCEEDED(
            inner_->GetBuffer(0, __uuidof(ID3D11Texture2D), reinterpret_cast<void**>(&buffer)))) {
        ID3D11Device* device = nullptr;
        buffer->GetDevice(&device);
        ID3D11DeviceContext* context = nullptr;
        device->GetImmediateContext(&context);
        last_presented = read_pixels(context, buffer);
        context->Release();
        device->Release();
        buffer->Release();
    }
    if (present_result != S_OK)
        return present_result;
    return inner_->Present(sync_interval, flags);
}

STDMETHODIMP fault_dxgi_swap_chain::GetBuffer(UINT buffer_idx, REFIID riid, void** surface)
{
    if (const HRESULT failure = injected_failure("GetBuffer")) {
        if (surface)
            *surface = nullptr;
        return failure;
    }
    return inner_->GetBuffer(buffer_idx, riid, surface);
}

STDMETHODIMP fault_dxgi_swap_chain::SetFullscreenState(WINBOOL fullscreen, IDXGIOutput* target)
{
    return inner_->SetFullscreenState(fullscreen, target);
}

STDMETHODIMP fault_dxgi_swap_chain::GetFullscreenState(WINBOOL* fullscreen, IDXGIOutput** target)
{
    return inner_->GetFullscreenState(fullscreen, target);
}

STDMETHODIMP fault_dxgi_swap_chain::GetDesc(DXGI_SWAP_CHAIN_DESC* desc)
{
    if (const HRESULT failure = injected_failure("GetDesc"))
        return failure;
    return inner_->GetDesc(desc);
}

STDMETHODIMP fault_dxgi_swap_chain::ResizeBuffers(UINT buffer_count, UINT width, UINT height,
                                                  DXGI_FORMAT format, UINT flags)
{
    return inner_->ResizeBuffers(buffer_count, width, height, format, flags);
}

STDMETHODIMP fault_dxgi_swap_chain::ResizeTarget(const DXGI_MODE_DESC* target_mode_desc)
{
    return inner_->ResizeTarget(target_mode_desc);
}

STDMETHODIMP fault_dxgi_swap_chain::GetContainingOutput(IDXGIOutput** output)
{
    return inner_->GetContainingOutput(output);
}

STDMETHODIMP fault_dxgi_swap_chain::GetFrameStatistics(DXGI_FRAME_STATISTICS* stats)
{
    return inner_->GetFrameStatistics(stats);
}

STDMETHODIMP fault_dxgi_swap_chain::GetLastPresentCount(UINT* last_present_count)
{
    return inner_->GetLastPresentCount(last_present_count);
}

// ---- swap_chain_catcher ----

namespace {

swap_chain_catcher* active_catcher = nullptr;

} // namespace

swap_chain_catcher::swap_chain_catcher()
{
    active_catcher = this;
    d3d11_manager::install_swap_chain_hook(wrap);
}

swap_chain_catcher::~swap_chain_catcher()
{
    d3d11_manager::install_swap_chain_hook(nullptr);
    active_catcher = nullptr;
    release_caught();
}

void swap_chain_catcher::release_caught()
{
    for (fault_dxgi_swap_chain* wrapper : caught_)
        wrapper->Release();
    caught_.clear();
}

IDXGISwapChain* swap_chain_catcher::wrap(IDXGISwapChain* made)
{
    auto* wrapper = new fault_dxgi_swap_chain(made);
    if (active_catcher) {
        wrapper->AddRef();
        active_catcher->caught_.push_back(wrapper);
    }
    return wrapper;
}
