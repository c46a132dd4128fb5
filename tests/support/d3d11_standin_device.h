// A Direct3D 11 device that forwards every call to a real device, for the decoder tests.
//
// Wine refuses the backend's NV12 video texture, so this device stands two textures in for it:
// asked for a (non-decoder) NV12 texture it makes an R8 texture of the same size, which the
// backend's copy and its R8 view reach, and an R8G8 texture of half the size, which the
// backend's R8G8 view is given instead. The test fills that chroma texture itself.
//
// Everything else goes to the real device, and interfaces other than ID3D11Device are
// answered by the real device, so the swap chain and the DXGI objects are the real ones.
// Objects made through the wrapper are real objects of the real device.
//
// The controls are plain members: set them while the backend is idle.
#pragma once

#include <d3d11.h>

#include <atomic>
#include <functional>
#include <string>
#include <vector>

class nv12_standin_device final : public ID3D11Device {
  public:
    // Takes a reference of its own on `inner`; starts with a count of 1, the caller's.
    static nv12_standin_device* wrap(ID3D11Device* inner);
    nv12_standin_device(const nv12_standin_device&) = delete;
    nv12_standin_device& operator=(const nv12_standin_device&) = delete;

    ID3D11Device* inner() const { return inner_; }
    ULONG refcount() const { return refs_.load(); }

    // False: NV12 textures go to the real device as asked (and Wine refuses them).
    bool stand_in_for_nv12 = true;
    // The NV12 textures asked for, as described.
    std::vector<D3D11_TEXTURE2D_DESC> nv12_requests;
    // The stand-ins of the last NV12 texture: the luma texture handed out and the chroma
    // texture behind its R8G8 view. Owned by the wrapper.
    ID3D11Texture2D* luma_standin() const { return luma_; }
    ID3D11Texture2D* chroma_standin() const { return chroma_; }
    // Lets go of the stand-ins (each holds a reference on the real device).
    void release_standins();

    // Asked first by the creation calls with the method's name ("CreateSamplerState", ...); a
    // failure code is returned as it is and the real device is not called.
    std::function<HRESULT(const std::string& method)> fail_hook;
    // Asked instead of the real device for every interface but ID3D11Device and IUnknown: it
    // may answer with the real device's object (through inner()), a wrapper of it or a failure.
    std::function<HRESULT(REFIID riid, void** object)> query_hook;

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID riid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    // ID3D11Device, in the order of its vtable
    STDMETHODIMP CreateBuffer(const D3D11_BUFFER_DESC* desc, const D3D11_SUBRESOURCE_DATA* data,
                              ID3D11Buffer** buffer) override;
    STDMETHODIMP CreateTexture1D(const D3D11_TEXTURE1D_DESC* desc,
                                 const D3D11_SUBRESOURCE_DATA* data,
                                 ID3D11Texture1D** texture) override;
    STDMETHODIMP CreateTexture2D(const D3D11_TEXTURE2D_DESC* desc,
                                 const D3D11_SUBRESOURCE_DATA* data,
                                 ID3D11Texture2D** texture) override;
    STDMETHODIMP CreateTexture3D(const D3D11_TEXTURE3D_DESC* desc,
                                 const D3D11_SUBRESOURCE_DATA* data,
                                 ID3D11Texture3D** texture) override;
    STDMETHODIMP CreateShaderResourceView(ID3D11Resource* resource,
                                          const D3D11_SHADER_RESOURCE_VIEW_DESC* desc,
                                          ID3D11ShaderResourceView** view) override;
    STDMETHODIMP CreateUnorderedAccessView(ID3D11Resource* resource,
                                           const D3D11_UNORDERED_ACCESS_VIEW_DESC* desc,
                                           ID3D11UnorderedAccessView** view) override;
    STDMETHODIMP CreateRenderTargetView(ID3D11Resource* resource,
                                        const D3D11_RENDER_TARGET_VIEW_DESC* desc,
                                        ID3D11RenderTargetView** view) override;
    STDMETHODIMP CreateDepthStencilView(ID3D11Resource* resource,
                                        const D3D11_DEPTH_STENCIL_VIEW_DESC* desc,
                                        ID3D11DepthStencilView** view) override;
    STDMETHODIMP CreateInputLayout(const D3D11_INPUT_ELEMENT_DESC* elements, UINT count,
                                   const void* code, SIZE_T length,
                                   ID3D11InputLayout** layout) override;
    STDMETHODIMP CreateVertexShader(const void* code, SIZE_T length, ID3D11ClassLinkage* linkage,
                                    ID3D11VertexShader** shader) override;
    STDMETHODIMP CreateGeometryShader(const void* code, SIZE_T length, ID3D11ClassLinkage* linkage,
                                      ID3D11GeometryShader** shader) override;
    STDMETHODIMP CreateGeometryShaderWithStreamOutput(const void* code, SIZE_T length,
                                                      const D3D11_SO_DECLARATION_ENTRY* entries,
                                                      UINT entry_count, const UINT* strides,
                                                      UINT stride_count, UINT rasterized_stream,
                                                      ID3D11ClassLinkage* linkage,
                                                      ID3D11GeometryShader** shader) override;
    STDMETHODIMP CreatePixelShader(const void* code, SIZE_T length, ID3D11ClassLinkage* linkage,
                                   ID3D11PixelShader** shader) override;
    STDMETHODIMP CreateHullShader(const void* code, SIZE_T length, ID3D11ClassLinkage* linkage,
                                  ID3D11HullShader** shader) override;
    STDMETHODIMP CreateDomainShader(const void* code, SIZE_T length, ID3D11ClassLinkage* linkage,
                                    ID3D11DomainShader** shader) override;
    STDMETHODIMP CreateComputeShader(const void* code, SIZE_T length, ID3D11ClassLinkage* linkage,
                                     ID3D11ComputeShader** shader) override;
    STDMETHODIMP CreateClassLinkage(ID3D11ClassLinkage** linkage) override;
    STDMETHODIMP CreateBlendState(const D3D11_BLEND_DESC* desc, ID3D11BlendState** state) override;
    STDMETHODIMP CreateDepthStencilState(const D3D11_DEPTH_STENCIL_DESC* desc,
                                         ID3D11DepthStencilState** state) override;
    STDMETHODIMP CreateRasterizerState(const D3D11_RASTERIZER_DESC* desc,
                                       ID3D11RasterizerState** state) override;
    STDMETHODIMP CreateSamplerState(const D3D11_SAMPLER_DESC* desc,
                                    ID3D11SamplerState** state) override;
    STDMETHODIMP CreateQuery(const D3D11_QUERY_DESC* desc, ID3D11Query** query) override;
    STDMETHODIMP CreatePredicate(const D3D11_QUERY_DESC* desc,
                                 ID3D11Predicate** predicate) override;
    STDMETHODIMP CreateCounter(const D3D11_COUNTER_DESC* desc, ID3D11Counter** counter) override;
    STDMETHODIMP CreateDeferredContext(UINT flags, ID3D11DeviceContext** context) override;
    STDMETHODIMP OpenSharedResource(HANDLE handle, REFIID riid, void** resource) override;
    STDMETHODIMP CheckFormatSupport(DXGI_FORMAT format, UINT* support) override;
    STDMETHODIMP CheckMultisampleQualityLevels(DXGI_FORMAT format, UINT sample_count,
                                               UINT* levels) override;
    STDMETHODIMP_(void) CheckCounterInfo(D3D11_COUNTER_INFO* info) override;
    STDMETHODIMP CheckCounter(const D3D11_COUNTER_DESC* desc, D3D11_COUNTER_TYPE* type,
                              UINT* active_counters, LPSTR name, UINT* name_length, LPSTR units,
                              UINT* units_length, LPSTR description,
                              UINT* description_length) override;
    STDMETHODIMP CheckFeatureSupport(D3D11_FEATURE feature, void* data, UINT size) override;
    STDMETHODIMP GetPrivateData(REFGUID guid, UINT* size, void* data) override;
    STDMETHODIMP SetPrivateData(REFGUID guid, UINT size, const void* data) override;
    STDMETHODIMP SetPrivateDataInterface(REFGUID guid, const IUnknown* data) override;
    STDMETHODIMP_(D3D_FEATURE_LEVEL) GetFeatureLevel() override;
    STDMETHODIMP_(UINT) GetCreationFlags() override;
    STDMETHODIMP GetDeviceRemovedReason() override;
    STDMETHODIMP_(void) GetImmediateContext(ID3D11DeviceContext** context) override;
    STDMETHODIMP SetExceptionMode(UINT flags) override;
    STDMETHODIMP_(UINT) GetExceptionMode() override;

  private:
    explicit nv12_standin_device(ID3D11Device* inner);
    ~nv12_standin_device();

    HRESULT injected_failure(const char* method) const;
    HRESULT make_standins(const D3D11_TEXTURE2D_DESC& desc, ID3D11Texture2D** texture);

    std::atomic<ULONG> refs_{1};
    ID3D11Device* inner_;
    ID3D11Texture2D* luma_ = nullptr;
    ID3D11Texture2D* chroma_ = nullptr;
};
