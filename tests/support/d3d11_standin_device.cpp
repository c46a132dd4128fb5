#include "d3d11_standin_device.h"

#include <type_traits>

static_assert(!std::is_abstract_v<nv12_standin_device>);

namespace {

template <typename T> HRESULT failed_with(HRESULT result, T** out)
{
    if (out)
        *out = nullptr;
    return result;
}

} // namespace

nv12_standin_device* nv12_standin_device::wrap(ID3D11Device* inner)
{
    inner->AddRef();
    return new nv12_standin_device(inner);
}

nv12_standin_device::nv12_standin_device(ID3D11Device* inner) : inner_(inner)
{}

nv12_standin_device::~nv12_standin_device()
{
    release_standins();
    inner_->Release();
}

HRESULT nv12_standin_device::injected_failure(const char* method) const
{
    if (!fail_hook)
        return S_OK;
    const HRESULT result = fail_hook(method);
    return FAILED(result) ? result : S_OK;
}

void nv12_standin_device::release_standins()
{
    if (luma_)
        luma_->Release();
    if (chroma_)
        chroma_->Release();
    luma_ = nullptr;
    chroma_ = nullptr;
}

HRESULT nv12_standin_device::make_standins(const D3D11_TEXTURE2D_DESC& desc,
                                           ID3D11Texture2D** texture)
{
    release_standins();
    D3D11_TEXTURE2D_DESC luma = desc;
    luma.Format = DXGI_FORMAT_R8_UNORM;
    D3D11_TEXTURE2D_DESC chroma = luma;
    chroma.Format = DXGI_FORMAT_R8G8_UNORM;
    chroma.Width = desc.Width / 2;
    chroma.Height = desc.Height / 2;
    chroma.Usage = D3D11_USAGE_DEFAULT;
    chroma.CPUAccessFlags = 0;
    HRESULT result = inner_->CreateTexture2D(&luma, nullptr, &luma_);
    if (SUCCEEDED(result))
        result = inner_->CreateTexture2D(&chroma, nullptr, &chroma_);
    if (FAILED(result)) {
        release_standins();
        return failed_with(result, texture);
    }
    luma_->AddRef();
    *texture = luma_;
    return S_OK;
}

STDMETHODIMP nv12_standin_device::QueryInterface(REFIID riid, void** object)
{
    if (!object)
        return E_POINTER;
    if (IsEqualGUID(riid, __uuidof(IUnknown)) || IsEqualGUID(riid, __uuidof(ID3D11Device))) {
        AddRef();
        *object = static_cast<ID3D11Device*>(this);
        return S_OK;
    }
    if (query_hook)
        return query_hook(riid, object);
    return inner_->QueryInterface(riid, object);
}

STDMETHODIMP_(ULONG) nv12_standin_device::AddRef()
{
    return ++refs_;
}

STDMETHODIMP_(ULONG) nv12_standin_device::Release()
{
    const ULONG left = --refs_;
    if (left == 0)
        delete this;
    return left;
}

STDMETHODIMP nv12_standin_device::CreateBuffer(const D3D11_BUFFER_DESC* desc,
                                               const D3D11_SUBRESOURCE_DATA* data,
                                               ID3D11Buffer** buffer)
{
    if (const HRESULT failure = injected_failure("CreateBuffer"))
        return failed_with(failure, buffer);
    return inner_->CreateBuffer(desc, data, buffer);
}

STDMETHODIMP nv12_standin_device::CreateTexture1D(const D3D11_TEXTURE1D_DESC* desc,
                                                  const D3D11_SUBRESOURCE_DATA* data,
                                                  ID3D11Texture1D** texture)
{
    return inner_->CreateTexture1D(desc, data, texture);
}

STDMETHODIMP nv12_standin_device::CreateTexture2D(const D3D11_TEXTURE2D_DESC* desc,
                                                  const D3D11_SUBRESOURCE_DATA* data,
                                                  ID3D11Texture2D** texture)
{
    if (const HRESULT failure = injected_failure("CreateTexture2D"))
        return failed_with(failure, texture);
    if (desc && desc->Format == DXGI_FORMAT_NV12 && !(desc->BindFlags & D3D11_BIND_DECODER)) {
        nv12_requests.push_back(*desc);
        if (stand_in_for_nv12)
            return make_standins(*desc, texture);
    }
    return inner_->CreateTexture2D(desc, data, texture);
}

STDMETHODIMP nv12_standin_device::CreateTexture3D(const D3D11_TEXTURE3D_DESC* desc,
                                                  const D3D11_SUBRESOURCE_DATA* data,
                                                  ID3D11Texture3D** texture)
{
    return inner_->CreateTexture3D(desc, data, texture);
}

STDMETHODIMP
nv12_standin_device::CreateShaderResourceView(ID3D11Resource* resource,
                                              const D3D11_SHADER_RESOURCE_VIEW_DESC* desc,
                                              ID3D11ShaderResourceView** view)
{
    if (const HRESULT failure = injected_failure("CreateShaderResourceView"))
        return failed_with(failure, view);
    if (luma_ && resource == luma_ && desc && desc->Format == DXGI_FORMAT_R8G8_UNORM)
        return inner_->CreateShaderResourceView(chroma_, desc, view);
    return inner_->CreateShaderResourceView(resource, desc, view);
}

STDMETHODIMP
nv12_standin_device::CreateUnorderedAccessView(ID3D11Resource* resource,
                                               const D3D11_UNORDERED_ACCESS_VIEW_DESC* desc,
                                               ID3D11UnorderedAccessView** view)
{
    return inner_->CreateUnorderedAccessView(resource, desc, view);
}

STDMETHODIMP nv12_standin_device::CreateRenderTargetView(ID3D11Resource* resource,
                                                         const D3D11_RENDER_TARGET_VIEW_DESC* desc,
                                                         ID3D11RenderTargetView** view)
{
    if (const HRESULT failure = injected_failure("CreateRenderTargetView"))
        return failed_with(failure, view);
    return inner_->CreateRenderTargetView(resource, desc, view);
}

STDMETHODIMP nv12_standin_device::CreateDepthStencilView(ID3D11Resource* resource,
                                                         const D3D11_DEPTH_STENCIL_VIEW_DESC* desc,
                                                         ID3D11DepthStencilView** view)
{
    return inner_->CreateDepthStencilView(resource, desc, view);
}

STDMETHODIMP nv12_standin_device::CreateInputLayout(const D3D11_INPUT_ELEMENT_DESC* elements,
                                                    UINT count, const void* code, SIZE_T length,
                                                    ID3D11InputLayout** layout)
{
    if (const HRESULT failure = injected_failure("CreateInputLayout"))
        return failed_with(failure, layout);
    return inner_->CreateInputLayout(elements, count, code, length, layout);
}

STDMETHODIMP nv12_standin_device::CreateVertexShader(const void* code, SIZE_T length,
                                                     ID3D11ClassLinkage* linkage,
                                                     ID3D11VertexShader** shader)
{
    if (const HRESULT failure = injected_failure("CreateVertexShader"))
        return failed_with(failure, shader);
    return inner_->CreateVertexShader(code, length, linkage, shader);
}

STDMETHODIMP nv12_standin_device::CreateGeometryShader(const void* code, SIZE_T length,
                                                       ID3D11ClassLinkage* linkage,
                                                       ID3D11GeometryShader** shader)
{
    return inner_->CreateGeometryShader(code, length, linkage, shader);
}

STDMETHODIMP nv12_standin_device::CreateGeometryShaderWithStreamOutput(
    const void* code, SIZE_T length, const D3D11_SO_DECLARATION_ENTRY* entries, UINT entry_count,
    const UINT* strides, UINT stride_count, UINT rasterized_stream, ID3D11ClassLinkage* linkage,
    ID3D11GeometryShader** shader)
{
    return inner_->CreateGeometryShaderWithStreamOutput(code, length, entries, entry_count, strides,
                                                        stride_count, rasterized_stream, linkage,
                                                        shader);
}

STDMETHODIMP nv12_standin_device::CreatePixelShader(const void* code, SIZE_T length,
                                                    ID3D11ClassLinkage* linkage,
                                                    ID3D11PixelShader** shader)
{
    if (const HRESULT failure = injected_failure("CreatePixelShader"))
        return failed_with(failure, shader);
    return inner_->CreatePixelShader(code, length, linkage, shader);
}

STDMETHODIMP nv12_standin_device::CreateHullShader(const void* code, SIZE_T length,
                                                   ID3D11ClassLinkage* linkage,
                                                   ID3D11HullShader** shader)
{
    return inner_->CreateHullShader(code, length, linkage, shader);
}

STDMETHODIMP nv12_standin_device::CreateDomainShader(const void* code, SIZE_T length,
                                                     ID3D11ClassLinkage* linkage,
                                                     ID3D11DomainShader** shader)
{
    return inner_->CreateDomainShader(code, length, linkage, shader);
}

STDMETHODIMP nv12_standin_device::CreateComputeShader(const void* code, SIZE_T length,
                                                      ID3D11ClassLinkage* linkage,
                                                      ID3D11ComputeShader** shader)
{
    return inner_->CreateComputeShader(code, length, linkage, shader);
}

STDMETHODIMP nv12_standin_device::CreateClassLinkage(ID3D11ClassLinkage** linkage)
{
    return inner_->CreateClassLinkage(linkage);
}

STDMETHODIMP nv12_standin_device::CreateBlendState(const D3D11_BLEND_DESC* desc,
                                                   ID3D11BlendState** state)
{
    return inner_->CreateBlendState(desc, state);
}

STDMETHODIMP nv12_standin_device::CreateDepthStencilState(const D3D11_DEPTH_STENCIL_DESC* desc,
                                                          ID3D11DepthStencilState** state)
{
    return inner_->CreateDepthStencilState(desc, state);
}

STDMETHODIMP nv12_standin_device::CreateRasterizerState(const D3D11_RASTERIZER_DESC* desc,
                                                        ID3D11RasterizerState** state)
{
    if (const HRESULT failure = injected_failure("CreateRasterizerState"))
        return failed_with(failure, state);
    return inner_->CreateRasterizerState(desc, state);
}

STDMETHODIMP nv12_standin_device::CreateSamplerState(const D3D11_SAMPLER_DESC* desc,
                                                     ID3D11SamplerState** state)
{
    if (const HRESULT failure = injected_failure("CreateSamplerState"))
        return failed_with(failure, state);
    return inner_->CreateSamplerState(desc, state);
}

STDMETHODIMP nv12_standin_device::CreateQuery(const D3D11_QUERY_DESC* desc, ID3D11Query** query)
{
    return inner_->CreateQuery(desc, query);
}

STDMETHODIMP nv12_standin_device::CreatePredicate(const D3D11_QUERY_DESC* desc,
                                                  ID3D11Predicate** predicate)
{
    return inner_->CreatePredicate(desc, predicate);
}

STDMETHODIMP nv12_standin_device::CreateCounter(const D3D11_COUNTER_DESC* desc,
                                                ID3D11Counter** counter)
{
    return inner_->CreateCounter(desc, counter);
}

STDMETHODIMP nv12_standin_device::CreateDeferredContext(UINT flags, ID3D11DeviceContext** context)
{
    return inner_->CreateDeferredContext(flags, context);
}

STDMETHODIMP nv12_standin_device::OpenSharedResource(HANDLE handle, REFIID riid, void** resource)
{
    return inner_->OpenSharedResource(handle, riid, resource);
}

STDMETHODIMP nv12_standin_device::CheckFormatSupport(DXGI_FORMAT format, UINT* support)
{
    return inner_->CheckFormatSupport(format, support);
}

STDMETHODIMP nv12_standin_device::CheckMultisampleQualityLevels(DXGI_FORMAT format,
                                                                UINT sample_count, UINT* levels)
{
    return inner_->CheckMultisampleQualityLevels(format, sample_count, levels);
}

STDMETHODIMP_(void) nv12_standin_device::CheckCounterInfo(D3D11_COUNTER_INFO* info)
{
    inner_->CheckCounterInfo(info);
}

STDMETHODIMP nv12_standin_device::CheckCounter(const D3D11_COUNTER_DESC* desc,
                                               D3D11_COUNTER_TYPE* type, UINT* active_counters,
                                               LPSTR name, UINT* name_length, LPSTR units,
                                               UINT* units_length, LPSTR description,
                                               UINT* description_length)
{
    return inner_->CheckCounter(desc, type, active_counters, name, name_length, units, units_length,
                                description, description_length);
}

STDMETHODIMP nv12_standin_device::CheckFeatureSupport(D3D11_FEATURE feature, void* data, UINT size)
{
    return inner_->CheckFeatureSupport(feature, data, size);
}

STDMETHODIMP nv12_standin_device::GetPrivateData(REFGUID guid, UINT* size, void* data)
{
    return inner_->GetPrivateData(guid, size, data);
}

STDMETHODIMP nv12_standin_device::SetPrivateData(REFGUID guid, UINT size, const void* data)
{
    return inner_->SetPrivateData(guid, size, data);
}

STDMETHODIMP nv12_standin_device::SetPrivateDataInterface(REFGUID guid, const IUnknown* data)
{
    return inner_->SetPrivateDataInterface(guid, data);
}

STDMETHODIMP_(D3D_FEATURE_LEVEL) nv12_standin_device::GetFeatureLevel()
{
    return inner_->GetFeatureLevel();
}

STDMETHODIMP_(UINT) nv12_standin_device::GetCreationFlags()
{
    return inner_->GetCreationFlags();
}

STDMETHODIMP nv12_standin_device::GetDeviceRemovedReason()
{
    return inner_->GetDeviceRemovedReason();
}

STDMETHODIMP_(void) nv12_standin_device::GetImmediateContext(ID3D11DeviceContext** context)
{
    inner_->GetImmediateContext(context);
}

STDMETHODIMP nv12_standin_device::SetExceptionMode(UINT flags)
{
    return inner_->SetExceptionMode(flags);
}

STDMETHODIMP_(UINT) nv12_standin_device::GetExceptionMode()
{
    return inner_->GetExceptionMode();
}
