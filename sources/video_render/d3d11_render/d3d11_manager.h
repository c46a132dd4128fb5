// The Direct3D 11 backend: draws decoded Direct3D 11 textures.
//
// With a codec context that carries the decoder's device, the backend borrows that device and
// its immediate context and copies each decoded array slice on the GPU,
// under the decoder's device lock, into an NV12 texture of its own; otherwise it creates a
// device itself. A pixel shader converts the NV12 picture to RGB with the colour adjustments
// into a window-sized offscreen texture, which `present` copies into the swap chain's single
// buffer. The whole picture always fills the whole window; there are no overlays and no draw
// callback.
#pragma once

#include <d3d11.h>
#include <dxgi1_2.h>
#include <wrl/client.h>

#include <cstdint>

#include "../color/color_math.h"
#include "../vrender_base.h"

class d3d11_manager final : public vrender_base {
  public:
    d3d11_manager();
    ~d3d11_manager() override;

    // The window width and height are not used: the swap chain takes the window's outer size.
    bool init_render(HWND window, int video_width, int video_height, int target_width,
                     int target_height, AVCodecContext* codec_ctx) override;
    // Sets the viewport and clears the back buffer to opaque black, whatever it is given.
    bool begin_render(bool clear, uint32_t argb) override;
    bool draw_image(uint8_t** planes, int* strides, RECT* destination, RECT* source) override;
    bool update_image(uint8_t** planes, int* strides, RECT* source) override;
    // True only when the swap chain's Present answers exactly S_OK.
    bool present(void* first, void* second) override;
    // -2 once Present has answered that the device was removed or reset: the front builds the
    // backend again (a new device of its own, or the decoder's device once it works).
    int check_device() override;
    bool set_image_adjust(const int* values) override;
    void set_color_space(int color_class) override;

  private:
    bool borrow_decoder_device(AVCodecContext* codec_ctx);
    bool create_own_device();
    bool create_swap_chain(IDXGIFactory2* factory, HWND window, int width, int height);
    bool init_back_buffer_view(DXGI_FORMAT& format);
    bool init_samplers();
    bool init_video_texture(int width, int height);
    bool init_render_target(int width, int height, DXGI_FORMAT format);
    bool init_vertex_stage();
    bool init_rasterizer_state();
    bool init_pixel_shader();
    void init_hue_matrices();
    bool copy_picture(uint8_t** planes);
    void copy_slice(ID3D11DeviceContext* context, ID3D11Texture2D* source, UINT slice);
    void update_projection(float width, float height);
    void bind_pipeline();
    void upload_color_constants();
    // Level 9 devices get the shader variants compiled for feature level 9_1.
    bool level9_device() const;

    AVCodecContext* codec_ctx_ = nullptr; // set while the device is the decoder's
    // Borrowed from the decoder when codec_ctx_ is set: device_ and context_, held with a
    // reference of their own while the backend lives. Everything else is the backend's.
    Microsoft::WRL::ComPtr<ID3D11Device> device_;
    Microsoft::WRL::ComPtr<ID3D11DeviceContext> context_;
    Microsoft::WRL::ComPtr<IDXGISwapChain> swap_chain_;
    Microsoft::WRL::ComPtr<ID3D11RenderTargetView> back_buffer_view_;
    Microsoft::WRL::ComPtr<ID3D11RenderTargetView> offscreen_view_;
    Microsoft::WRL::ComPtr<ID3D11VertexShader> vertex_shader_;
    Microsoft::WRL::ComPtr<ID3D11InputLayout> input_layout_;
    Microsoft::WRL::ComPtr<ID3D11Buffer> vs_constants_;
    Microsoft::WRL::ComPtr<ID3D11Buffer> vertex_buffer_;
    Microsoft::WRL::ComPtr<ID3D11PixelShader> yuv_shader_;
    Microsoft::WRL::ComPtr<ID3D11RasterizerState> rasterizer_state_;
    Microsoft::WRL::ComPtr<ID3D11SamplerState> point_sampler_;
    Microsoft::WRL::ComPtr<ID3D11SamplerState> linear_sampler_;
    Microsoft::WRL::ComPtr<ID3D11Texture2D> offscreen_texture_;
    Microsoft::WRL::ComPtr<ID3D11Texture2D> video_texture_;
    Microsoft::WRL::ComPtr<ID3D11ShaderResourceView> luma_view_;
    Microsoft::WRL::ComPtr<ID3D11ShaderResourceView> chroma_view_;
    // Both are kept transposed, ready for the vertex shader's buffer.
    alignas(16) color_math::mat4 view_matrix_ = color_math::identity();
    alignas(16) color_math::mat4 projection_matrix_ = color_math::identity();
    float projected_width_ = 0.0f;
    float projected_height_ = 0.0f;
    int color_class_ = 0;
    int image_adjust_[4] = {50, 50, 50, 50};
    Microsoft::WRL::ComPtr<ID3D11Buffer> color_matrix_cb_;
    Microsoft::WRL::ComPtr<ID3D11Buffer> image_changes_cb_;
    color_math::mat4 hue_pre_ = color_math::identity();
    color_math::mat4 hue_post_ = color_math::identity();
    uint32_t viewport_width_ = 0;
    uint32_t viewport_height_ = 0;
    bool device_removed_ = false;
};
