// A Direct3D 9 device that forwards every call to a real device and lets a test make chosen
// calls fail: Present, TestCooperativeLevel and the creation calls the renderer and D3DX make.
// Around a Direct3D 9Ex device it is a Direct3D 9Ex device as well (QueryInterface says so and
// the Ex calls are forwarded); around a plain one it answers only as IDirect3DDevice9.
//
// The wrapper is a COM object with its own reference count; it keeps one reference on the real
// device and drops it when its own count reaches zero. Only real interface pointers are ever
// handed to the real device: surfaces, textures and shaders the device creates are not wrapped,
// only the device itself and the swap chains it hands out are.
//
// The injection controls are plain members and are not synchronised: set them before the calls
// they should affect, on the thread that makes those calls or while the renderer is idle.
#pragma once

#include <windows.h>

#include <d3d9.h>

#include <atomic>
#include <deque>
#include <functional>

class fault_swap_chain;

class fault_device final : public IDirect3DDevice9Ex {
  public:
    // Wraps a real device, taking a reference of its own on it. The wrapper starts with a
    // reference count of 1, which belongs to the caller.
    static fault_device* wrap(IDirect3DDevice9* inner);

    fault_device(const fault_device&) = delete;
    fault_device& operator=(const fault_device&) = delete;

    IDirect3DDevice9* inner() const { return inner_; }
    // The real device's reference count as it stands (the wrapper's own reference included).
    ULONG inner_refcount() const;
    // The wrapper's own reference count.
    ULONG refcount() const { return refs_.load(); }

    // Anything but S_OK is returned by Present, on the device and on its wrapped swap chains,
    // without presenting.
    HRESULT present_result = S_OK;
    // Device and swap-chain Present calls, the failed ones included.
    int present_calls = 0;
    // TestCooperativeLevel answers the front entry (and removes it); when empty, it asks the
    // real device.
    std::deque<HRESULT> cooperative_level_results;
    int test_cooperative_level_calls = 0;
    // Asked first by every call that hands out a new object (the Create... calls, Ex ones
    // included) and by GetSwapChain and GetBackBuffer, with the method's name; a failure code is
    // returned from the method as it is (the out pointer set to null) and the real device is not
    // called.
    std::function<HRESULT(const char* method)> fail_hook;

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID riid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    // IDirect3DDevice9, in the order of its vtable
    STDMETHODIMP TestCooperativeLevel() override;
    STDMETHODIMP_(UINT) GetAvailableTextureMem() override;
    STDMETHODIMP EvictManagedResources() override;
    STDMETHODIMP GetDirect3D(IDirect3D9** d3d) override;
    STDMETHODIMP GetDeviceCaps(D3DCAPS9* caps) override;
    STDMETHODIMP GetDisplayMode(UINT swap_chain, D3DDISPLAYMODE* mode) override;
    STDMETHODIMP GetCreationParameters(D3DDEVICE_CREATION_PARAMETERS* parameters) override;
    STDMETHODIMP SetCursorProperties(UINT x_hot_spot, UINT y_hot_spot,
                                     IDirect3DSurface9* cursor_bitmap) override;
    STDMETHODIMP_(void) SetCursorPosition(int x, int y, DWORD flags) override;
    STDMETHODIMP_(WINBOOL) ShowCursor(WINBOOL show) override;
    STDMETHODIMP CreateAdditionalSwapChain(D3DPRESENT_PARAMETERS* parameters,
                                           IDirect3DSwapChain9** swap_chain) override;
    STDMETHODIMP GetSwapChain(UINT index, IDirect3DSwapChain9** swap_chain) override;
    STDMETHODIMP_(UINT) GetNumberOfSwapChains() override;
    STDMETHODIMP Reset(D3DPRESENT_PARAMETERS* parameters) override;
    STDMETHODIMP Present(const RECT* src_rect, const RECT* dst_rect, HWND dst_window_override,
                         const RGNDATA* dirty_region) override;
    STDMETHODIMP GetBackBuffer(UINT swap_chain, UINT index, D3DBACKBUFFER_TYPE type,
                               IDirect3DSurface9** back_buffer) override;
    STDMETHODIMP GetRasterStatus(UINT swap_chain, D3DRASTER_STATUS* status) override;
    STDMETHODIMP SetDialogBoxMode(WINBOOL enable_dialogs) override;
    STDMETHODIMP_(void)
    SetGammaRamp(UINT swap_chain, DWORD flags, const D3DGAMMARAMP* ramp) override;
    STDMETHODIMP_(void) GetGammaRamp(UINT swap_chain, D3DGAMMARAMP* ramp) override;
    STDMETHODIMP CreateTexture(UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format,
                               D3DPOOL pool, IDirect3DTexture9** texture,
                               HANDLE* shared_handle) override;
    STDMETHODIMP CreateVolumeTexture(UINT width, UINT height, UINT depth, UINT levels, DWORD usage,
                                     D3DFORMAT format, D3DPOOL pool,
                                     IDirect3DVolumeTexture9** texture,
                                     HANDLE* shared_handle) override;
    STDMETHODIMP CreateCubeTexture(UINT edge_length, UINT levels, DWORD usage, D3DFORMAT format,
                                   D3DPOOL pool, IDirect3DCubeTexture9** texture,
                                   HANDLE* shared_handle) override;
    STDMETHODIMP CreateVertexBuffer(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool,
                                    IDirect3DVertexBuffer9** buffer,
                                    HANDLE* shared_handle) override;
    STDMETHODIMP CreateIndexBuffer(UINT length, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                                   IDirect3DIndexBuffer9** buffer, HANDLE* shared_handle) override;
    STDMETHODIMP CreateRenderTarget(UINT width, UINT height, D3DFORMAT format,
                                    D3DMULTISAMPLE_TYPE multisample, DWORD multisample_quality,
                                    WINBOOL lockable, IDirect3DSurface9** surface,
                                    HANDLE* shared_handle) override;
    STDMETHODIMP CreateDepthStencilSurface(UINT width, UINT height, D3DFORMAT format,
                                           D3DMULTISAMPLE_TYPE multisample,
                                           DWORD multisample_quality, WINBOOL discard,
                                           IDirect3DSurface9** surface,
                                           HANDLE* shared_handle) override;
    STDMETHODIMP UpdateSurface(IDirect3DSurface9* src_surface, const RECT* src_rect,
                               IDirect3DSurface9* dst_surface, const POINT* dst_point) override;
    STDMETHODIMP UpdateTexture(IDirect3DBaseTexture9* src_texture,
                               IDirect3DBaseTexture9* dst_texture) override;
    STDMETHODIMP GetRenderTargetData(IDirect3DSurface9* render_target,
                                     IDirect3DSurface9* dst_surface) override;
    STDMETHODIMP GetFrontBufferData(UINT swap_chain, IDirect3DSurface9* dst_surface) override;
    STDMETHODIMP StretchRect(IDirect3DSurface9* src_surface, const RECT* src_rect,
                             IDirect3DSurface9* dst_surface, const RECT* dst_rect,
                             D3DTEXTUREFILTERTYPE filter) override;
    STDMETHODIMP ColorFill(IDirect3DSurface9* surface, const RECT* rect, D3DCOLOR color) override;
    STDMETHODIMP CreateOffscreenPlainSurface(UINT width, UINT height, D3DFORMAT format,
                                             D3DPOOL pool, IDirect3DSurface9** surface,
                                             HANDLE* shared_handle) override;
    STDMETHODIMP SetRenderTarget(DWORD index, IDirect3DSurface9* render_target) override;
    STDMETHODIMP GetRenderTarget(DWORD index, IDirect3DSurface9** render_target) override;
    STDMETHODIMP SetDepthStencilSurface(IDirect3DSurface9* z_stencil) override;
    STDMETHODIMP GetDepthStencilSurface(IDirect3DSurface9** z_stencil) override;
    STDMETHODIMP BeginScene() override;
    STDMETHODIMP EndScene() override;
    STDMETHODIMP Clear(DWORD rect_count, const D3DRECT* rects, DWORD flags, D3DCOLOR color, float z,
                       DWORD stencil) override;
    STDMETHODIMP SetTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX* matrix) override;
    STDMETHODIMP GetTransform(D3DTRANSFORMSTATETYPE state, D3DMATRIX* matrix) override;
    STDMETHODIMP MultiplyTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX* matrix) override;
    STDMETHODIMP SetViewport(const D3DVIEWPORT9* viewport) override;
    STDMETHODIMP GetViewport(D3DVIEWPORT9* viewport) override;
    STDMETHODIMP SetMaterial(const D3DMATERIAL9* material) override;
    STDMETHODIMP GetMaterial(D3DMATERIAL9* material) override;
    STDMETHODIMP SetLight(DWORD index, const D3DLIGHT9* light) override;
    STDMETHODIMP GetLight(DWORD index, D3DLIGHT9* light) override;
    STDMETHODIMP LightEnable(DWORD index, WINBOOL enable) override;
    STDMETHODIMP GetLightEnable(DWORD index, WINBOOL* enable) override;
    STDMETHODIMP SetClipPlane(DWORD index, const float* plane) override;
    STDMETHODIMP GetClipPlane(DWORD index, float* plane) override;
    STDMETHODIMP SetRenderState(D3DRENDERSTATETYPE state, DWORD value) override;
    STDMETHODIMP GetRenderState(D3DRENDERSTATETYPE state, DWORD* value) override;
    STDMETHODIMP CreateStateBlock(D3DSTATEBLOCKTYPE type,
                                  IDirect3DStateBlock9** state_block) override;
    STDMETHODIMP BeginStateBlock() override;
    STDMETHODIMP EndStateBlock(IDirect3DStateBlock9** state_block) override;
    STDMETHODIMP SetClipStatus(const D3DCLIPSTATUS9* clip_status) override;
    STDMETHODIMP GetClipStatus(D3DCLIPSTATUS9* clip_status) override;
    STDMETHODIMP GetTexture(DWORD stage, IDirect3DBaseTexture9** texture) override;
    STDMETHODIMP SetTexture(DWORD stage, IDirect3DBaseTexture9* texture) override;
    STDMETHODIMP GetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type,
                                      DWORD* value) override;
    STDMETHODIMP SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type,
                                      DWORD value) override;
    STDMETHODIMP GetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD* value) override;
    STDMETHODIMP SetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD value) override;
    STDMETHODIMP ValidateDevice(DWORD* passes) override;
    STDMETHODIMP SetPaletteEntries(UINT palette, const PALETTEENTRY* entries) override;
    STDMETHODIMP GetPaletteEntries(UINT palette, PALETTEENTRY* entries) override;
    STDMETHODIMP SetCurrentTexturePalette(UINT palette) override;
    STDMETHODIMP GetCurrentTexturePalette(UINT* palette) override;
    STDMETHODIMP SetScissorRect(const RECT* rect) override;
    STDMETHODIMP GetScissorRect(RECT* rect) override;
    STDMETHODIMP SetSoftwareVertexProcessing(WINBOOL software) override;
    STDMETHODIMP_(WINBOOL) GetSoftwareVertexProcessing() override;
    STDMETHODIMP SetNPatchMode(float segments) override;
    STDMETHODIMP_(float) GetNPatchMode() override;
    STDMETHODIMP DrawPrimitive(D3DPRIMITIVETYPE type, UINT start_vertex,
                               UINT primitive_count) override;
    STDMETHODIMP DrawIndexedPrimitive(D3DPRIMITIVETYPE type, INT base_vertex, UINT min_vertex,
                                      UINT vertex_count, UINT start_index,
                                      UINT primitive_count) override;
    STDMETHODIMP DrawPrimitiveUP(D3DPRIMITIVETYPE type, UINT primitive_count, const void* data,
                                 UINT stride) override;
    STDMETHODIMP DrawIndexedPrimitiveUP(D3DPRIMITIVETYPE type, UINT min_vertex, UINT vertex_count,
                                        UINT primitive_count, const void* index_data,
                                        D3DFORMAT index_format, const void* data,
                                        UINT stride) override;
    STDMETHODIMP ProcessVertices(UINT src_start, UINT dst_index, UINT vertex_count,
                                 IDirect3DVertexBuffer9* dst_buffer,
                                 IDirect3DVertexDeclaration9* declaration, DWORD flags) override;
    STDMETHODIMP CreateVertexDeclaration(const D3DVERTEXELEMENT9* elements,
                                         IDirect3DVertexDeclaration9** declaration) override;
    STDMETHODIMP SetVertexDeclaration(IDirect3DVertexDeclaration9* declaration) override;
    STDMETHODIMP GetVertexDeclaration(IDirect3DVertexDeclaration9** declaration) override;
    STDMETHODIMP SetFVF(DWORD fvf) override;
    STDMETHODIMP GetFVF(DWORD* fvf) override;
    STDMETHODIMP CreateVertexShader(const DWORD* byte_code,
                                    IDirect3DVertexShader9** shader) override;
    STDMETHODIMP SetVertexShader(IDirect3DVertexShader9* shader) override;
    STDMETHODIMP GetVertexShader(IDirect3DVertexShader9** shader) override;
    STDMETHODIMP SetVertexShaderConstantF(UINT reg, const float* data, UINT count) override;
    STDMETHODIMP GetVertexShaderConstantF(UINT reg, float* data, UINT count) override;
    STDMETHODIMP SetVertexShaderConstantI(UINT reg, const int* data, UINT count) override;
    STDMETHODIMP GetVertexShaderConstantI(UINT reg, int* data, UINT count) override;
    STDMETHODIMP SetVertexShaderConstantB(UINT reg, const WINBOOL* data, UINT count) override;
    STDMETHODIMP GetVertexShaderConstantB(UINT reg, WINBOOL* data, UINT count) override;
    STDMETHODIMP SetStreamSource(UINT stream, IDirect3DVertexBuffer9* data, UINT offset,
                                 UINT stride) override;
    STDMETHODIMP GetStreamSource(UINT stream, IDirect3DVertexBuffer9** data, UINT* offset,
                                 UINT* stride) override;
    STDMETHODIMP SetStreamSourceFreq(UINT stream, UINT divider) override;
    STDMETHODIMP GetStreamSourceFreq(UINT stream, UINT* divider) override;
    STDMETHODIMP SetIndices(IDirect3DIndexBuffer9* indices) override;
    STDMETHODIMP GetIndices(IDirect3DIndexBuffer9** indices) override;
    STDMETHODIMP CreatePixelShader(const DWORD* byte_code, IDirect3DPixelShader9** shader) override;
    STDMETHODIMP SetPixelShader(IDirect3DPixelShader9* shader) override;
    STDMETHODIMP GetPixelShader(IDirect3DPixelShader9** shader) override;
    STDMETHODIMP SetPixelShaderConstantF(UINT reg, const float* data, UINT count) override;
    STDMETHODIMP GetPixelShaderConstantF(UINT reg, float* data, UINT count) override;
    STDMETHODIMP SetPixelShaderConstantI(UINT reg, const int* data, UINT count) override;
    STDMETHODIMP GetPixelShaderConstantI(UINT reg, int* data, UINT count) override;
    STDMETHODIMP SetPixelShaderConstantB(UINT reg, const WINBOOL* data, UINT count) override;
    STDMETHODIMP GetPixelShaderConstantB(UINT reg, WINBOOL* data, UINT count) override;
    STDMETHODIMP DrawRectPatch(UINT handle, const float* segment_count,
                               const D3DRECTPATCH_INFO* patch_info) override;
    STDMETHODIMP DrawTriPatch(UINT handle, const float* segment_count,
                              const D3DTRIPATCH_INFO* patch_info) override;
    STDMETHODIMP DeletePatch(UINT handle) override;
    STDMETHODIMP CreateQuery(D3DQUERYTYPE type, IDirect3DQuery9** query) override;

    // IDirect3DDevice9Ex, in the order of its vtable; D3DERR_INVALIDCALL around a plain device
    STDMETHODIMP SetConvolutionMonoKernel(UINT width, UINT height, float* rows,
                                          float* columns) override;
    STDMETHODIMP ComposeRects(IDirect3DSurface9* src_surface, IDirect3DSurface9* dst_surface,
                              IDirect3DVertexBuffer9* src_descs, UINT rect_count,
                              IDirect3DVertexBuffer9* dst_descs, D3DCOMPOSERECTSOP operation,
                              INT offset_x, INT offset_y) override;
    STDMETHODIMP PresentEx(const RECT* src_rect, const RECT* dst_rect, HWND dst_window_override,
                           const RGNDATA* dirty_region, DWORD flags) override;
    STDMETHODIMP GetGPUThreadPriority(INT* priority) override;
    STDMETHODIMP SetGPUThreadPriority(INT priority) override;
    STDMETHODIMP WaitForVBlank(UINT swap_chain) override;
    STDMETHODIMP CheckResourceResidency(IDirect3DResource9** resources,
                                        UINT32 resource_count) override;
    STDMETHODIMP SetMaximumFrameLatency(UINT max_latency) override;
    STDMETHODIMP GetMaximumFrameLatency(UINT* max_latency) override;
    STDMETHODIMP CheckDeviceState(HWND dst_window) override;
    STDMETHODIMP CreateRenderTargetEx(UINT width, UINT height, D3DFORMAT format,
                                      D3DMULTISAMPLE_TYPE multisample, DWORD multisample_quality,
                                      WINBOOL lockable, IDirect3DSurface9** surface,
                                      HANDLE* shared_handle, DWORD usage) override;
    STDMETHODIMP CreateOffscreenPlainSurfaceEx(UINT width, UINT height, D3DFORMAT format,
                                               D3DPOOL pool, IDirect3DSurface9** surface,
                                               HANDLE* shared_handle, DWORD usage) override;
    STDMETHODIMP CreateDepthStencilSurfaceEx(UINT width, UINT height, D3DFORMAT format,
                                             D3DMULTISAMPLE_TYPE multisample,
                                             DWORD multisample_quality, WINBOOL discard,
                                             IDirect3DSurface9** surface, HANDLE* shared_handle,
                                             DWORD usage) override;
    STDMETHODIMP ResetEx(D3DPRESENT_PARAMETERS* parameters, D3DDISPLAYMODEEX* mode) override;
    STDMETHODIMP GetDisplayModeEx(UINT swap_chain, D3DDISPLAYMODEEX* mode,
                                  D3DDISPLAYROTATION* rotation) override;

  private:
    friend class fault_swap_chain;

    explicit fault_device(IDirect3DDevice9* inner);
    ~fault_device();

    // The hook's answer for the named method; S_OK when there is no hook.
    HRESULT injected_failure(const char* method) const;

    std::atomic<ULONG> refs_{1};
    IDirect3DDevice9* inner_;
    // The same object as inner_ when it is a Direct3D 9Ex device (no reference of its own).
    IDirect3DDevice9Ex* inner_ex_ = nullptr;
};

// A swap chain handed out by a fault_device. It keeps its device alive and presents through it,
// so the device's present_result and present_calls cover it as well.
class fault_swap_chain final : public IDirect3DSwapChain9 {
  public:
    fault_swap_chain(const fault_swap_chain&) = delete;
    fault_swap_chain& operator=(const fault_swap_chain&) = delete;

    IDirect3DSwapChain9* inner() const { return inner_; }
    fault_device* device() const { return device_; }
    ULONG refcount() const { return refs_.load(); }

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID riid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    // IDirect3DSwapChain9, in the order of its vtable
    STDMETHODIMP Present(const RECT* src_rect, const RECT* dst_rect, HWND dst_window_override,
                         const RGNDATA* dirty_region, DWORD flags) override;
    STDMETHODIMP GetFrontBufferData(IDirect3DSurface9* dst_surface) override;
    STDMETHODIMP GetBackBuffer(UINT index, D3DBACKBUFFER_TYPE type,
                               IDirect3DSurface9** back_buffer) override;
    STDMETHODIMP GetRasterStatus(D3DRASTER_STATUS* status) override;
    STDMETHODIMP GetDisplayMode(D3DDISPLAYMODE* mode) override;
    STDMETHODIMP GetDevice(IDirect3DDevice9** device) override;
    STDMETHODIMP GetPresentParameters(D3DPRESENT_PARAMETERS* parameters) override;

  private:
    friend class fault_device;

    // Takes over the caller's reference on inner and adds one on device.
    fault_swap_chain(fault_device* device, IDirect3DSwapChain9* inner);
    ~fault_swap_chain();

    std::atomic<ULONG> refs_{1};
    fault_device* device_;
    IDirect3DSwapChain9* inner_;
};
