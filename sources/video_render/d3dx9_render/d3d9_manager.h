// The Direct3D 9 backend. It draws software frames on a device of its own, or DXVA2 frames
// on the decoder's device through an additional swap chain, and hands the picture itself to
// a presentation strategy chosen by kind.
//
// Borrowed from the decoder, on DXVA2 frames only: the device (d3d_dev_, held with a reference
// of its own while the backend lives; d3d9_ then stays null). Everything else is the backend's.
#pragma once

#include <d3d9.h>
#include <wrl/client.h>

#include <atomic>
#include <map>
#include <mutex>

#include "../recursive_lock.h"
#include "../vrender_base.h"
#include "base_display.h"
#include "d3d_mytext.h"

class d3d9_manager final : public vrender_base {
  public:
    d3d9_manager();
    ~d3d9_manager() override;

    bool init_render(HWND window, int video_width, int video_height, int target_width,
                     int target_height, AVCodecContext* codec_ctx) override;
    bool begin_render(bool clear, uint32_t argb) override;
    bool draw_image(uint8_t** planes, int* strides, RECT* destination, RECT* source) override;
    bool update_image(uint8_t** planes, int* strides, RECT* source) override;
    bool draw_overlays(std::list<overlay_group>* groups, int reference_width, int reference_height,
                       RECT* area) override;
    bool present(void* first, void* second) override;
    int check_device() override;
    bool set_image_adjust(const int* values) override;
    void set_color_space(int color_class) override;

    using display_creator = base_display* (*)(IDirect3DDevice9* device);
    // A new strategy of `kind` on `device`, or null for an unknown kind or a failed one.
    static base_display* create_render(int kind, IDirect3DDevice9* device);

  private:
    bool init_own_device(HWND window, int video_width, int video_height, int target_width,
                         int target_height);
    bool init_shared_device(HWND window, int video_width, int video_height, int target_width,
                            int target_height, AVCodecContext* codec_ctx);
    bool create_device_ex(D3DPRESENT_PARAMETERS* params);
    bool create_device(D3DPRESENT_PARAMETERS* params);
    void set_render_states(const D3DCAPS9* caps);
    void destroy_device();
    void drop_display();
    void release_swap_chain();

    // Read by every renderer's thread, never written after the library loads.
    static const std::map<int, display_creator> display_creators;

    Microsoft::WRL::ComPtr<IDirect3D9> d3d9_;
    Microsoft::WRL::ComPtr<IDirect3DDevice9> d3d_dev_;
    Microsoft::WRL::ComPtr<IDirect3DSwapChain9> swap_chain_;
    recursive_lock render_mutex_;
    std::atomic<bool> device_lost_{false};
    d3d_mytext mytext_;
    base_display* display_ = nullptr;
    // The swap chain's back buffer from begin_render to present.
    Microsoft::WRL::ComPtr<IDirect3DSurface9> back_buffer_;
};
