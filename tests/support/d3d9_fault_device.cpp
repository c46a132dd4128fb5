#include "d3d9_fault_device.h"

#include <type_traits>

// A member missing from either class would leave it abstract.
static_assert(!std::is_abstract_v<fault_device>);
static_assert(!std::is_abstract_v<fault_swap_chain>);

namespace {

// What the runtime does to an out pointer when a creation call fails.
template <typename T> HRESULT failed_with(HRESULT hr, T** out)
{
    if (out) {
        *out = nullptr;
    }
    return hr;
}

} // namespace

// ---- fault_device: the wrapper's own parts ----

fault_device* fault_device::wrap(IDirect3DDevice9* inner)
{
    inner->AddRef();
    return new fault_device(inner);
}

fault_device::fault_device(IDirect3DDevice9* inner) : inner_(inner)
{
    void* ex = nullptr;
    if (SUCCEEDED(inner->QueryInterface(__uuidof(IDirect3DDevice9Ex), &ex)) && ex) {
        inner_ex_ = static_cast<IDirect3DDevice9Ex*>(ex);
        inner_ex_->Release(); // the same object as inner_, which holds the reference
    }
}

fault_device::~fault_device()
{
    inner_->Release();
}

ULONG fault_device::inner_refcount() const
{
    inner_->AddRef();
    return inner_->Release();
}

HRESULT fault_device::injected_failure(const char* method) const
{
    if (!fail_hook) {
        return S_OK;
    }
    const HRESULT hr = fail_hook(method);
    return FAILED(hr) ? hr : S_OK;
}

STDMETHODIMP fault_device::QueryInterface(REFIID riid, void** object)
{
    if (!object) {
        return E_POINTER;
    }
    if (IsEqualGUID(riid, __uuidof(IUnknown)) || IsEqualGUID(riid, __uuidof(IDirect3DDevice9)) ||
        (inner_ex_ && IsEqualGUID(riid, __uuidof(IDirect3DDevice9Ex)))) {
        AddRef();
        *object = static_cast<IDirect3DDevice9Ex*>(this);
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) fault_device::AddRef()
{
    return ++refs_;
}

STDMETHODIMP_(ULONG) fault_device::Release()
{
    const ULONG left = --refs_;
    if (left == 0) {
        delete this;
    }
    return left;
}

// ---- fault_device: the calls with something to inject ----

STDMETHODIMP fault_device::TestCooperativeLevel()
{
    ++test_cooperative_level_calls;
    if (!cooperative_level_results.empty()) {
        const HRESULT hr = cooperative_level_results.front();
        cooperative_level_results.pop_front();
        return hr;
    }
    return inner_->TestCooperativeLevel();
}

STDMETHODIMP fault_device::CreateAdditionalSwapChain(D3DPRESENT_PARAMETERS* parameters,
                                                     IDirect3DSwapChain9** swap_chain)
{
    if (const HRESULT hr = injected_failure("CreateAdditionalSwapChain"); FAILED(hr)) {
        return failed_with(hr, swap_chain);
    }
    const HRESULT hr = inner_->CreateAdditionalSwapChain(parameters, swap_chain);
    if (SUCCEEDED(hr) && swap_chain && *swap_chain) {
        *swap_chain = new fault_swap_chain(this, *swap_chain);
    }
    return hr;
}

STDMETHODIMP fault_device::GetSwapChain(UINT index, IDirect3DSwapChain9** swap_chain)
{
    if (const HRESULT hr = injected_failure("GetSwapChain"); FAILED(hr)) {
        return failed_with(hr, swap_chain);
    }
    // Each call hands out a wrapper of its own around the real swap chain.
    const HRESULT hr = inner_->GetSwapChain(index, swap_chain);
    if (SUCCEEDED(hr) && swap_chain && *swap_chain) {
        *swap_chain = new fault_swap_chain(this, *swap_chain);
    }
    return hr;
}

STDMETHODIMP fault_device::Present(const RECT* src_rect, const RECT* dst_rect,
                                   HWND dst_window_override, const RGNDATA* dirty_region)
{
    ++present_calls;
    if (present_result != S_OK) {
        return present_result;
    }
    return inner_->Present(src_rect, dst_rect, dst_window_override, dirty_region);
}

STDMETHODIMP fault_device::GetBackBuffer(UINT swap_chain, UINT index, D3DBACKBUFFER_TYPE type,
                                         IDirect3DSurface9** back_buffer)
{
    if (const HRESULT hr = injected_failure("GetBackBuffer"); FAILED(hr)) {
        return failed_with(hr, back_buffer);
    }
    return inner_->GetBackBuffer(swap_chain, index, type, back_buffer);
}

STDMETHODIMP fault_device::CreateTexture(UINT width, UINT height, UINT levels, DWORD usage,
                                         D3DFORMAT format, D3DPOOL pool,
                                         IDirect3DTexture9** texture, HANDLE* shared_handle)
{
    if (const HRESULT hr = injected_failure("CreateTexture"); FAILED(hr)) {
        return failed_with(hr, texture);
    }
    return inner_->CreateTexture(width, height, levels, usage, format, pool, texture,
                                 shared_handle);
}

STDMETHODIMP fault_device::CreateVertexBuffer(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool,
                                              IDirect3DVertexBuffer9** buffer,
                                              HANDLE* shared_handle)
{
    if (const HRESULT hr = injected_failure("CreateVertexBuffer"); FAILED(hr)) {
        return failed_with(hr, buffer);
    }
    return inner_->CreateVertexBuffer(length, usage, fvf, pool, buffer, shared_handle);
}

STDMETHODIMP fault_device::CreateRenderTarget(UINT width, UINT height, D3DFORMAT format,
                                              D3DMULTISAMPLE_TYPE multisample,
                                              DWORD multisample_quality, WINBOOL lockable,
                                              IDirect3DSurface9** surface, HANDLE* shared_handle)
{
    if (const HRESULT hr = injected_failure("CreateRenderTarget"); FAILED(hr)) {
        return failed_with(hr, surface);
    }
    return inner_->CreateRenderTarget(width, height, format, multisample, multisample_quality,
                                      lockable, surface, shared_handle);
}

STDMETHODIMP fault_device::CreateOffscreenPlainSurface(UINT width, UINT height, D3DFORMAT format,
                                                       D3DPOOL pool, IDirect3DSurface9** surface,
                                                       HANDLE* shared_handle)
{
    if (const HRESULT hr = injected_failure("CreateOffscreenPlainSurface"); FAILED(hr)) {
        return failed_with(hr, surface);
    }
    return inner_->CreateOffscreenPlainSurface(width, height, format, pool, surface, shared_handle);
}

STDMETHODIMP fault_device::CreatePixelShader(const DWORD* byte_code, IDirect3DPixelShader9** shader)
{
    if (const HRESULT hr = injected_failure("CreatePixelShader"); FAILED(hr)) {
        return failed_with(hr, shader);
    }
    return inner_->CreatePixelShader(byte_code, shader);
}

// ---- fault_device: plain forwarding, in the order of the vtable ----

STDMETHODIMP_(UINT) fault_device::GetAvailableTextureMem()
{
    return inner_->GetAvailableTextureMem();
}

STDMETHODIMP fault_device::EvictManagedResources()
{
    return inner_->EvictManagedResources();
}

STDMETHODIMP fault_device::GetDirect3D(IDirect3D9** d3d)
{
    return inner_->GetDirect3D(d3d);
}

STDMETHODIMP fault_device::GetDeviceCaps(D3DCAPS9* caps)
{
    return inner_->GetDeviceCaps(caps);
}

STDMETHODIMP fault_device::GetDisplayMode(UINT swap_chain, D3DDISPLAYMODE* mode)
{
    return inner_->GetDisplayMode(swap_chain, mode);
}

STDMETHODIMP fault_device::GetCreationParameters(D3DDEVICE_CREATION_PARAMETERS* parameters)
{
    return inner_->GetCreationParameters(parameters);
}

STDMETHODIMP fault_device::SetCursorProperties(UINT x_hot_spot, UINT y_hot_spot,
                                               IDirect3DSurface9* cursor_bitmap)
{
    return inner_->SetCursorProperties(x_hot_spot, y_hot_spot, cursor_bitmap);
}

STDMETHODIMP_(void) fault_device::SetCursorPosition(int x, int y, DWORD flags)
{
    inner_->SetCursorPosition(x, y, flags);
}

STDMETHODIMP_(WINBOOL) fault_device::ShowCursor(WINBOOL show)
{
    return inner_->ShowCursor(show);
}

STDMETHODIMP_(UINT) fault_device::GetNumberOfSwapChains()
{
    return inner_->GetNumberOfSwapChains();
}

STDMETHODIMP fault_device::Reset(D3DPRESENT_PARAMETERS* parameters)
{
    return inner_->Reset(parameters);
}

STDMETHODIMP fault_device::GetRasterStatus(UINT swap_chain, D3DRASTER_STATUS* status)
{
    return inner_->GetRasterStatus(swap_chain, status);
}

STDMETHODIMP fault_device::SetDialogBoxMode(WINBOOL enable_dialogs)
{
    return inner_->SetDialogBoxMode(enable_dialogs);
}

STDMETHODIMP_(void)
fault_device::SetGammaRamp(UINT swap_chain, DWORD flags, const D3DGAMMARAMP* ramp)
{
    inner_->SetGammaRamp(swap_chain, flags, ramp);
}

STDMETHODIMP_(void) fault_device::GetGammaRamp(UINT swap_chain, D3DGAMMARAMP* ramp)
{
    inner_->GetGammaRamp(swap_chain, ramp);
}

STDMETHODIMP fault_device::CreateVolumeTexture(UINT width, UINT height, UINT depth, UINT levels,
                                               DWORD usage, D3DFORMAT format, D3DPOOL pool,
                                               IDirect3DVolumeTexture9** texture,
                                               HANDLE* shared_handle)
{
    if (const HRESULT hr = injected_failure("CreateVolumeTexture"); FAILED(hr)) {
        return failed_with(hr, texture);
    }
    return inner_->CreateVolumeTexture(width, height, depth, levels, usage, format, pool, texture,
                                       shared_handle);
}

STDMETHODIMP fault_device::CreateCubeTexture(UINT edge_length, UINT levels, DWORD usage,
                                             D3DFORMAT format, D3DPOOL pool,
                                             IDirect3DCubeTexture9** texture, HANDLE* shared_handle)
{
    if (const HRESULT hr = injected_failure("CreateCubeTexture"); FAILED(hr)) {
        return failed_with(hr, texture);
    }
    return inner_->CreateCubeTexture(edge_length, levels, usage, format, pool, texture,
                                     shared_handle);
}

STDMETHODIMP fault_device::CreateIndexBuffer(UINT length, DWORD usage, D3DFORMAT format,
                                             D3DPOOL pool, IDirect3DIndexBuffer9** buffer,
                                             HANDLE* shared_handle)
{
    if (const HRESULT hr = injected_failure("CreateIndexBuffer"); FAILED(hr)) {
        return failed_with(hr, buffer);
    }
    return inner_->CreateIndexBuffer(length, usage, format, pool, buffer, shared_handle);
}

STDMETHODIMP fault_device::CreateDepthStencilSurface(UINT width, UINT height, D3DFORMAT format,
                                                     D3DMULTISAMPLE_TYPE multisample,
                                                     DWORD multisample_quality, WINBOOL discard,
                                                     IDirect3DSurface9** surface,
                                                     HANDLE* shared_handle)
{
    if (const HRESULT hr = injected_failure("CreateDepthStencilSurface"); FAILED(hr)) {
        return failed_with(hr, surface);
    }
    return inner_->CreateDepthStencilSurface(width, height, format, multisample,
                                             multisample_quality, discard, surface, shared_handle);
}

STDMETHODIMP fault_device::UpdateSurface(IDirect3DSurface9* src_surface, const RECT* src_rect,
                                         IDirect3DSurface9* dst_surface, const POINT* dst_point)
{
    return inner_->UpdateSurface(src_surface, src_rect, dst_surface, dst_point);
}

STDMETHODIMP fault_device::UpdateTexture(IDirect3DBaseTexture9* src_texture,
                                         IDirect3DBaseTexture9* dst_texture)
{
    return inner_->UpdateTexture(src_texture, dst_texture);
}

STDMETHODIMP fault_device::GetRenderTargetData(IDirect3DSurface9* render_target,
                                               IDirect3DSurface9* dst_surface)
{
    return inner_->GetRenderTargetData(render_target, dst_surface);
}

STDMETHODIMP fault_device::GetFrontBufferData(UINT swap_chain, IDirect3DSurface9* dst_surface)
{
    return inner_->GetFrontBufferData(swap_chain, dst_surface);
}

STDMETHODIMP fault_device::StretchRect(IDirect3DSurface9* src_surface, const RECT* src_rect,
                                       IDirect3DSurface9* dst_surface, const RECT* dst_rect,
                                       D3DTEXTUREFILTERTYPE filter)
{
    return inner_->StretchRect(src_surface, src_rect, dst_surface, dst_rect, filter);
}

STDMETHODIMP fault_device::ColorFill(IDirect3DSurface9* surface, const RECT* rect, D3DCOLOR color)
{
    return inner_->ColorFill(surface, rect, color);
}

STDMETHODIMP fault_device::SetRenderTarget(DWORD index, IDirect3DSurface9* render_target)
{
    return inner_->SetRenderTarget(index, render_target);
}

STDMETHODIMP fault_device::GetRenderTarget(DWORD index, IDirect3DSurface9** render_target)
{
    return inner_->GetRenderTarget(index, render_target);
}

STDMETHODIMP fault_device::SetDepthStencilSurface(IDirect3DSurface9* z_stencil)
{
    return inner_->SetDepthStencilSurface(z_stencil);
}

STDMETHODIMP fault_device::GetDepthStencilSurface(IDirect3DSurface9** z_stencil)
{
    return inner_->GetDepthStencilSurface(z_stencil);
}

STDMETHODIMP fault_device::BeginScene()
{
    return inner_->BeginScene();
}

STDMETHODIMP fault_device::EndScene()
{
    return inner_->EndScene();
}

STDMETHODIMP fault_device::Clear(DWORD rect_count, const D3DRECT* rects, DWORD flags,
                                 D3DCOLOR color, float z, DWORD stencil)
{
    return inner_->Clear(rect_count, rects, flags, color, z, stencil);
}

STDMETHODIMP fault_device::SetTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX* matrix)
{
    return inner_->SetTransform(state, matrix);
}

STDMETHODIMP fault_device::GetTransform(D3DTRANSFORMSTATETYPE state, D3DMATRIX* matrix)
{
    return inner_->GetTransform(state, matrix);
}

STDMETHODIMP fault_device::MultiplyTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX* matrix)
{
    return inner_->MultiplyTransform(state, matrix);
}

STDMETHODIMP fault_device::SetViewport(const D3DVIEWPORT9* viewport)
{
    return inner_->SetViewport(viewport);
}

STDMETHODIMP fault_device::GetViewport(D3DVIEWPORT9* viewport)
{
    return inner_->GetViewport(viewport);
}

STDMETHODIMP fault_device::SetMaterial(const D3DMATERIAL9* material)
{
    return inner_->SetMaterial(material);
}

STDMETHODIMP fault_device::GetMaterial(D3DMATERIAL9* material)
{
    return inner_->GetMaterial(material);
}

STDMETHODIMP fault_device::SetLight(DWORD index, const D3DLIGHT9* light)
{
    return inner_->SetLight(index, light);
}

STDMETHODIMP fault_device::GetLight(DWORD index, D3DLIGHT9* light)
{
    return inner_->GetLight(index, light);
}

STDMETHODIMP fault_device::LightEnable(DWORD index, WINBOOL enable)
{
    return inner_->LightEnable(index, enable);
}

STDMETHODIMP fault_device::GetLightEnable(DWORD index, WINBOOL* enable)
{
    return inner_->GetLightEnable(index, enable);
}

STDMETHODIMP fault_device::SetClipPlane(DWORD index, const float* plane)
{
    return inner_->SetClipPlane(index, plane);
}

STDMETHODIMP fault_device::GetClipPlane(DWORD index, float* plane)
{
    return inner_->GetClipPlane(index, plane);
}

STDMETHODIMP fault_device::SetRenderState(D3DRENDERSTATETYPE state, DWORD value)
{
    return inner_->SetRenderState(state, value);
}

STDMETHODIMP fault_device::GetRenderState(D3DRENDERSTATETYPE state, DWORD* value)
{
    return inner_->GetRenderState(state, value);
}

STDMETHODIMP fault_device::CreateStateBlock(D3DSTATEBLOCKTYPE type,
                                            IDirect3DStateBlock9** state_block)
{
    if (const HRESULT hr = injected_failure("CreateStateBlock"); FAILED(hr)) {
        return failed_with(hr, state_block);
    }
    return inner_->CreateStateBlock(type, state_block);
}

STDMETHODIMP fault_device::BeginStateBlock()
{
    return inner_->BeginStateBlock();
}

STDMETHODIMP fault_device::EndStateBlock(IDirect3DStateBlock9** state_block)
{
    return inner_->EndStateBlock(state_block);
}

STDMETHODIMP fault_device::SetClipStatus(const D3DCLIPSTATUS9* clip_status)
{
    return inner_->SetClipStatus(clip_status);
}

STDMETHODIMP fault_device::GetClipStatus(D3DCLIPSTATUS9* clip_status)
{
    return inner_->GetClipStatus(clip_status);
}

STDMETHODIMP fault_device::GetTexture(DWORD stage, IDirect3DBaseTexture9** texture)
{
    return inner_->GetTexture(stage, texture);
}

STDMETHODIMP fault_device::SetTexture(DWORD stage, IDirect3DBaseTexture9* texture)
{
    return inner_->SetTexture(stage, texture);
}

STDMETHODIMP fault_device::GetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type,
                                                DWORD* value)
{
    return inner_->GetTextureStageState(stage, type, value);
}

STDMETHODIMP fault_device::SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type,
                                                DWORD value)
{
    return inner_->SetTextureStageState(stage, type, value);
}

STDMETHODIMP fault_device::GetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD* value)
{
    return inner_->GetSamplerState(sampler, type, value);
}

STDMETHODIMP fault_device::SetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD value)
{
    return inner_->SetSamplerState(sampler, type, value);
}

STDMETHODIMP fault_device::ValidateDevice(DWORD* passes)
{
    return inner_->ValidateDevice(passes);
}

STDMETHODIMP fault_device::SetPaletteEntries(UINT palette, const PALETTEENTRY* entries)
{
    return inner_->SetPaletteEntries(palette, entries);
}

STDMETHODIMP fault_device::GetPaletteEntries(UINT palette, PALETTEENTRY* entries)
{
    return inner_->GetPaletteEntries(palette, entries);
}

STDMETHODIMP fault_device::SetCurrentTexturePalette(UINT palette)
{
    return inner_->SetCurrentTexturePalette(palette);
}

STDMETHODIMP fault_device::GetCurrentTexturePalette(UINT* palette)
{
    return inner_->GetCurrentTexturePalette(palette);
}

STDMETHODIMP fault_device::SetScissorRect(const RECT* rect)
{
    return inner_->SetScissorRect(rect);
}

STDMETHODIMP fault_device::GetScissorRect(RECT* rect)
{
    return inner_->GetScissorRect(rect);
}

STDMETHODIMP fault_device::SetSoftwareVertexProcessing(WINBOOL software)
{
    return inner_->SetSoftwareVertexProcessing(software);
}

STDMETHODIMP_(WINBOOL) fault_device::GetSoftwareVertexProcessing()
{
    return inner_->GetSoftwareVertexProcessing();
}

STDMETHODIMP fault_device::SetNPatchMode(float segments)
{
    return inner_->SetNPatchMode(segments);
}

STDMETHODIMP_(float) fault_device::GetNPatchMode()
{
    return inner_->GetNPatchMode();
}

STDMETHODIMP fault_device::DrawPrimitive(D3DPRIMITIVETYPE type, UINT start_vertex,
                                         UINT primitive_count)
{
    return inner_->DrawPrimitive(type, start_vertex, primitive_count);
}

STDMETHODIMP fault_device::DrawIndexedPrimitive(D3DPRIMITIVETYPE type, INT base_vertex,
                                                UINT min_vertex, UINT vertex_count,
                                                UINT start_index, UINT primitive_count)
{
    return inner_->DrawIndexedPrimitive(type, base_vertex, min_vertex, vertex_count, start_index,
                                        primitive_count);
}

STDMETHODIMP fault_device::DrawPrimitiveUP(D3DPRIMITIVETYPE type, UINT primitive_count,
                                           const void* data, UINT stride)
{
    return inner_->DrawPrimitiveUP(type, primitive_count, data, stride);
}

STDMETHODIMP fault_device::DrawIndexedPrimitiveUP(D3DPRIMITIVETYPE type, UINT min_vertex,
                                                  UINT vertex_count, UINT primitive_count,
                                                  const void* index_data, D3DFORMAT index_format,
                                                  const void* data, UINT stride)
{
    return inner_->DrawIndexedPrimitiveUP(type, min_vertex, vertex_count, primitive_count,
                                          index_data, index_format, data, stride);
}

STDMETHODIMP fault_device::ProcessVertices(UINT src_start, UINT dst_index, UINT vertex_count,
                                           IDirect3DVertexBuffer9* dst_buffer,
                                           IDirect3DVertexDeclaration9* declaration, DWORD flags)
{
    return inner_->ProcessVertices(src_start, dst_index, vertex_count, dst_buffer, declaration,
                                   flags);
}

STDMETHODIMP fault_device::CreateVertexDeclaration(const D3DVERTEXELEMENT9* elements,
                                                   IDirect3DVertexDeclaration9** declaration)
{
    if (const HRESULT hr = injected_failure("CreateVertexDeclaration"); FAILED(hr)) {
        return failed_with(hr, declaration);
    }
    return inner_->CreateVertexDeclaration(elements, declaration);
}

STDMETHODIMP fault_device::SetVertexDeclaration(IDirect3DVertexDeclaration9* declaration)
{
    return inner_->SetVertexDeclaration(declaration);
}

STDMETHODIMP fault_device::GetVertexDeclaration(IDirect3DVertexDeclaration9** declaration)
{
    return inner_->GetVertexDeclaration(declaration);
}

STDMETHODIMP fault_device::SetFVF(DWORD fvf)
{
    return inner_->SetFVF(fvf);
}

STDMETHODIMP fault_device::GetFVF(DWORD* fvf)
{
    return inner_->GetFVF(fvf);
}

STDMETHODIMP fault_device::CreateVertexShader(const DWORD* byte_code,
                                              IDirect3DVertexShader9** shader)
{
    if (const HRESULT hr = injected_failure("CreateVertexShader"); FAILED(hr)) {
        return failed_with(hr, shader);
    }
    return inner_->CreateVertexShader(byte_code, shader);
}

STDMETHODIMP fault_device::SetVertexShader(IDirect3DVertexShader9* shader)
{
    return inner_->SetVertexShader(shader);
}

STDMETHODIMP fault_device::GetVertexShader(IDirect3DVertexShader9** shader)
{
    return inner_->GetVertexShader(shader);
}

STDMETHODIMP fault_device::SetVertexShaderConstantF(UINT reg, const float* data, UINT count)
{
    return inner_->SetVertexShaderConstantF(reg, data, count);
}

STDMETHODIMP fault_device::GetVertexShaderConstantF(UINT reg, float* data, UINT count)
{
    return inner_->GetVertexShaderConstantF(reg, data, count);
}

STDMETHODIMP fault_device::SetVertexShaderConstantI(UINT reg, const int* data, UINT count)
{
    return inner_->SetVertexShaderConstantI(reg, data, count);
}

STDMETHODIMP fault_device::GetVertexShaderConstantI(UINT reg, int* data, UINT count)
{
    return inner_->GetVertexShaderConstantI(reg, data, count);
}

STDMETHODIMP fault_device::SetVertexShaderConstantB(UINT reg, const WINBOOL* data, UINT count)
{
    return inner_->SetVertexShaderConstantB(reg, data, count);
}

STDMETHODIMP fault_device::GetVertexShaderConstantB(UINT reg, WINBOOL* data, UINT count)
{
    return inner_->GetVertexShaderConstantB(reg, data, count);
}

STDMETHODIMP fault_device::SetStreamSource(UINT stream, IDirect3DVertexBuffer9* data, UINT offset,
                                           UINT stride)
{
    return inner_->SetStreamSource(stream, data, offset, stride);
}

STDMETHODIMP fault_device::GetStreamSource(UINT stream, IDirect3DVertexBuffer9** data, UINT* offset,
                                           UINT* stride)
{
    return inner_->GetStreamSource(stream, data, offset, stride);
}

STDMETHODIMP fault_device::SetStreamSourceFreq(UINT stream, UINT divider)
{
    return inner_->SetStreamSourceFreq(stream, divider);
}

STDMETHODIMP fault_device::GetStreamSourceFreq(UINT stream, UINT* divider)
{
    return inner_->GetStreamSourceFreq(stream, divider);
}

STDMETHODIMP fault_device::SetIndices(IDirect3DIndexBuffer9* indices)
{
    return inner_->SetIndices(indices);
}

STDMETHODIMP fault_device::GetIndices(IDirect3DIndexBuffer9** indices)
{
    return inner_->GetIndices(indices);
}

STDMETHODIMP fault_device::SetPixelShader(IDirect3DPixelShader9* shader)
{
    return inner_->SetPixelShader(shader);
}

STDMETHODIMP fault_device::GetPixelShader(IDirect3DPixelShader9** shader)
{
    return inner_->GetPixelShader(shader);
}

STDMETHODIMP fault_device::SetPixelShaderConstantF(UINT reg, const float* data, UINT count)
{
    return inner_->SetPixelShaderConstantF(reg, data, count);
}

STDMETHODIMP fault_device::GetPixelShaderConstantF(UINT reg, float* data, UINT count)
{
    return inner_->GetPixelShaderConstantF(reg, data, count);
}

STDMETHODIMP fault_device::SetPixelShaderConstantI(UINT reg, const int* data, UINT count)
{
    return inner_->SetPixelShaderConstantI(reg, data, count);
}

STDMETHODIMP fault_device::GetPixelShaderConstantI(UINT reg, int* data, UINT count)
{
    return inner_->GetPixelShaderConstantI(reg, data, count);
}

STDMETHODIMP fault_device::SetPixelShaderConstantB(UINT reg, const WINBOOL* data, UINT count)
{
    return inner_->SetPixelShaderConstantB(reg, data, count);
}

STDMETHODIMP fault_device::GetPixelShaderConstantB(UINT reg, WINBOOL* data, UINT count)
{
    return inner_->GetPixelShaderConstantB(reg, data, count);
}

STDMETHODIMP fault_device::DrawRectPatch(UINT handle, const float* segment_count,
                                         const D3DRECTPATCH_INFO* patch_info)
{
    return inner_->DrawRectPatch(handle, segment_count, patch_info);
}

STDMETHODIMP fault_device::DrawTriPatch(UINT handle, const float* segment_count,
                                        const D3DTRIPATCH_INFO* patch_info)
{
    return inner_->DrawTriPatch(handle, segment_count, patch_info);
}

STDMETHODIMP fault_device::DeletePatch(UINT handle)
{
    return inner_->DeletePatch(handle);
}

STDMETHODIMP fault_device::CreateQuery(D3DQUERYTYPE type, IDirect3DQuery9** query)
{
    if (const HRESULT hr = injected_failure("CreateQuery"); FAILED(hr)) {
        return failed_with(hr, query);
    }
    return inner_->CreateQuery(type, query);
}

// ---- fault_device: the Direct3D 9Ex calls ----

STDMETHODIMP fault_device::SetConvolutionMonoKernel(UINT width, UINT height, float* rows,
                                                    float* columns)
{
    return inner_ex_ ? inner_ex_->SetConvolutionMonoKernel(width, height, rows, columns)
                     : D3DERR_INVALIDCALL;
}

STDMETHODIMP fault_device::ComposeRects(IDirect3DSurface9* src_surface,
                                        IDirect3DSurface9* dst_surface,
                                        IDirect3DVertexBuffer9* src_descs, UINT rect_count,
                                        IDirect3DVertexBuffer9* dst_descs,
                                        D3DCOMPOSERECTSOP operation, INT offset_x, INT offset_y)
{
    return inner_ex_ ? inner_ex_->ComposeRects(src_surface, dst_surface, src_descs, rect_count,
                                               dst_descs, operation, offset_x, offset_y)
                     : D3DERR_INVALIDCALL;
}

STDMETHODIMP fault_device::PresentEx(const RECT* src_rect, const RECT* dst_rect,
                                     HWND dst_window_override, const RGNDATA* dirty_region,
                                     DWORD flags)
{
    if (!inner_ex_)
        return D3DERR_INVALIDCALL;
    ++present_calls;
    if (present_result != S_OK)
        return present_result;
    return inner_ex_->PresentEx(src_rect, dst_rect, dst_window_override, dirty_region, flags);
}

STDMETHODIMP fault_device::GetGPUThreadPriority(INT* priority)
{
    return inner_ex_ ? inner_ex_->GetGPUThreadPriority(priority) : D3DERR_INVALIDCALL;
}

STDMETHODIMP fault_device::SetGPUThreadPriority(INT priority)
{
    return inner_ex_ ? inner_ex_->SetGPUThreadPriority(priority) : D3DERR_INVALIDCALL;
}

STDMETHODIMP fault_device::WaitForVBlank(UINT swap_chain)
{
    return inner_ex_ ? inner_ex_->WaitForVBlank(swap_chain) : D3DERR_INVALIDCALL;
}

STDMETHODIMP fault_device::CheckResourceResidency(IDirect3DResource9** resources,
                                                  UINT32 resource_count)
{
    return inner_ex_ ? inner_ex_->CheckResourceResidency(resources, resource_count)
                     : D3DERR_INVALIDCALL;
}

STDMETHODIMP fault_device::SetMaximumFrameLatency(UINT max_latency)
{
    return inner_ex_ ? inner_ex_->SetMaximumFrameLatency(max_latency) : D3DERR_INVALIDCALL;
}

STDMETHODIMP fault_device::GetMaximumFrameLatency(UINT* max_latency)
{
    return inner_ex_ ? inner_ex_->GetMaximumFrameLatency(max_latency) : D3DERR_INVALIDCALL;
}

STDMETHODIMP fault_device::CheckDeviceState(HWND dst_window)
{
    return inner_ex_ ? inner_ex_->CheckDeviceState(dst_window) : D3DERR_INVALIDCALL;
}

STDMETHODIMP fault_device::CreateRenderTargetEx(UINT width, UINT height, D3DFORMAT format,
                                                D3DMULTISAMPLE_TYPE multisample,
                                                DWORD multisample_quality, WINBOOL lockable,
                                                IDirect3DSurface9** surface, HANDLE* shared_handle,
                                                DWORD usage)
{
    if (!inner_ex_)
        return failed_with(D3DERR_INVALIDCALL, surface);
    if (const HRESULT hr = injected_failure("CreateRenderTargetEx"); FAILED(hr)) {
        return failed_with(hr, surface);
    }
    return inner_ex_->CreateRenderTargetEx(width, height, format, multisample, multisample_quality,
                                           lockable, surface, shared_handle, usage);
}

STDMETHODIMP fault_device::CreateOffscreenPlainSurfaceEx(UINT width, UINT height, D3DFORMAT format,
                                                         D3DPOOL pool, IDirect3DSurface9** surface,
                                                         HANDLE* shared_handle, DWORD usage)
{
    if (!inner_ex_)
        return failed_with(D3DERR_INVALIDCALL, surface);
    if (const HRESULT hr = injected_failure("CreateOffscreenPlainSurfaceEx"); FAILED(hr)) {
        return failed_with(hr, surface);
    }
    return inner_ex_->CreateOffscreenPlainSurfaceEx(width, height, format, pool, surface,
                                                    shared_handle, usage);
}

STDMETHODIMP fault_device::CreateDepthStencilSurfaceEx(UINT width, UINT height, D3DFORMAT format,
                                                       D3DMULTISAMPLE_TYPE multisample,
                                                       DWORD multisample_quality, WINBOOL discard,
                                                       IDirect3DSurface9** surface,
                                                       HANDLE* shared_handle, DWORD usage)
{
    if (!inner_ex_)
        return failed_with(D3DERR_INVALIDCALL, surface);
    if (const HRESULT hr = injected_failure("CreateDepthStencilSurfaceEx"); FAILED(hr)) {
        return failed_with(hr, surface);
    }
    return inner_ex_->CreateDepthStencilSurfaceEx(width, height, format, multisample,
                                                  multisample_quality, discard, surface,
                                                  shared_handle, usage);
}

STDMETHODIMP fault_device::ResetEx(D3DPRESENT_PARAMETERS* parameters, D3DDISPLAYMODEEX* mode)
{
    return inner_ex_ ? inner_ex_->ResetEx(parameters, mode) : D3DERR_INVALIDCALL;
}

STDMETHODIMP fault_device::GetDisplayModeEx(UINT swap_chain, D3DDISPLAYMODEEX* mode,
                                            D3DDISPLAYROTATION* rotation)
{
    return inner_ex_ ? inner_ex_->GetDisplayModeEx(swap_chain, mode, rotation) : D3DERR_INVALIDCALL;
}

// ---- fault_swap_chain ----

fault_swap_chain::fault_swap_chain(fault_device* device, IDirect3DSwapChain9* inner)
    : device_(device), inner_(inner)
{
    device_->AddRef();
}

fault_swap_chain::~fault_swap_chain()
{
    // The real swap chain goes before the device that made it.
    inner_->Release();
    device_->Release();
}

STDMETHODIMP fault_swap_chain::QueryInterface(REFIID riid, void** object)
{
    if (!object) {
        return E_POINTER;
    }
    if (IsEqualGUID(riid, __uuidof(IUnknown)) || IsEqualGUID(riid, __uuidof(IDirect3DSwapChain9))) {
        AddRef();
        *object = static_cast<IDirect3DSwapChain9*>(this);
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) fault_swap_chain::AddRef()
{
    return ++refs_;
}

STDMETHODIMP_(ULONG) fault_swap_chain::Release()
{
    const ULONG left = --refs_;
    if (left == 0) {
        delete this;
    }
    return left;
}

STDMETHODIMP fault_swap_chain::Present(const RECT* src_rect, const RECT* dst_rect,
                                       HWND dst_window_override, const RGNDATA* dirty_region,
                                       DWORD flags)
{
    ++device_->present_calls;
    if (device_->present_result != S_OK) {
        return device_->present_result;
    }
    return inner_->Present(src_rect, dst_rect, dst_window_override, dirty_region, flags);
}

STDMETHODIMP fault_swap_chain::GetFrontBufferData(IDirect3DSurface9* dst_surface)
{
    return inner_->GetFrontBufferData(dst_surface);
}

STDMETHODIMP fault_swap_chain::GetBackBuffer(UINT index, D3DBACKBUFFER_TYPE type,
                                             IDirect3DSurface9** back_buffer)
{
    return inner_->GetBackBuffer(index, type, back_buffer);
}

STDMETHODIMP fault_swap_chain::GetRasterStatus(D3DRASTER_STATUS* status)
{
    return inner_->GetRasterStatus(status);
}

STDMETHODIMP fault_swap_chain::GetDisplayMode(D3DDISPLAYMODE* mode)
{
    return inner_->GetDisplayMode(mode);
}

STDMETHODIMP fault_swap_chain::GetDevice(IDirect3DDevice9** device)
{
    if (!device) {
        return D3DERR_INVALIDCALL;
    }
    device_->AddRef();
    *device = device_;
    return D3D_OK;
}

STDMETHODIMP fault_swap_chain::GetPresentParameters(D3DPRESENT_PARAMETERS* parameters)
{
    return inner_->GetPresentParameters(parameters);
}
