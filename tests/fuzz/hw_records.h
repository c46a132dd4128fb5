// The FFmpeg records that hardware frames and init_vrender carry, as the fuzz program hands
// them out: real ones that lead to Direct3D 9 and Direct3D 11 devices of the program's own
// (standing in for FFmpeg's DXVA2 and D3D11VA decoders), and broken ones, each chain cut at
// one link or ending in zeroed records. Broken records never point anywhere wild: the library
// cannot tell a wild pointer from a good one.
#pragma once

#include <windows.h>

#include <d3d11.h>
#include <d3d9.h>

#include <cstdint>
#include <string>
#include <vector>

#include "ffmpeg_records.h"

// What a codec context leads to.
enum class context_kind { none, dxva2, d3d11 };

struct context_entry {
    const char* name;
    AVCodecContext* context;
    context_kind kind;
    // The line the Direct3D 9 backend logs when it refuses this context at initialisation
    // (empty: no refusal with a message); a prefix when `d3d9_prefix` is set.
    std::string d3d9_refusal;
    bool d3d9_prefix;
    // The same for the Direct3D 11 backend (always an exact text).
    std::string d3d11_refusal;
};

struct dxva2_surface {
    IDirect3DSurface9* surface;
    int decoder; // index of the decoder whose device made it
    int width;
    int height;
};

class hw_records {
  public:
    hw_records();
    ~hw_records();
    hw_records(const hw_records&) = delete;
    hw_records& operator=(const hw_records&) = delete;

    // Creates the devices, surfaces and textures; what cannot be made is left out (the
    // broken records are there in any case). Returns a line describing what is there.
    std::string open();

    const std::vector<context_entry>& contexts() const { return contexts_; }
    // The contexts that lead to a real device of the given kind (indexes into contexts()).
    std::vector<size_t> real_contexts(context_kind kind) const;

    const std::vector<dxva2_surface>& surfaces() const { return surfaces_; }

    // Direct3D 11 frames: the decoder's texture array (null when there is none), its number
    // of slices, and the frames-context references, real and broken.
    ID3D11Texture2D* texture() const { return texture_; }
    int texture_slices() const { return texture_slices_; }
    const std::vector<AVBufferRef*>& frames_refs() const { return frames_refs_; }

    // Times the Direct3D 11 decoder's device lock was taken minus the times it was given back.
    int lock_balance() const { return lock_balance_; }

  private:
    // The records behind one real DXVA2 decoder.
    struct dxva2_decoder {
        HWND window = nullptr;
        IDirect3D9* d3d9 = nullptr;
        IDirect3DDevice9* device = nullptr;
        uint64_t hwctx[8] = {}; // the device manager record, only tested for presence
        dxva2_device_priv priv = {};
        AVHWDeviceContext device_ctx = {};
        AVBufferRef device_ref = {};
        AVCodecContext codec_ctx = {};
    };

    bool open_dxva2(dxva2_decoder& decoder, int index);
    bool open_d3d11();
    void add_broken_contexts();
    static void lock(void* lock_ctx);
    static void unlock(void* lock_ctx);

    std::vector<context_entry> contexts_;
    dxva2_decoder dxva2_[2];
    std::vector<dxva2_surface> surfaces_;

    ID3D11Device* d3d11_device_ = nullptr;
    ID3D11DeviceContext* d3d11_context_ = nullptr;
    ID3D11Texture2D* texture_ = nullptr;
    int texture_slices_ = 0;
    uint64_t video_placeholders_[2][8] = {}; // never called by the renderer
    AVD3D11VADeviceContext d3d11_hwctx_ = {};
    AVHWDeviceContext d3d11_device_ctx_ = {};
    AVBufferRef d3d11_device_ref_ = {};
    AVHWFramesContext d3d11_frames_ctx_ = {};
    AVBufferRef d3d11_frames_ref_ = {};
    AVCodecContext d3d11_codec_ctx_ = {};
    int lock_balance_ = 0;

    // Broken chains: zeroed records, each one link longer than the last.
    AVCodecContext no_device_ref_ = {};
    AVCodecContext to_zero_ref_ = {};
    AVBufferRef zero_ref_ = {};
    AVCodecContext to_zero_device_ = {};
    AVBufferRef ref_to_zero_device_ = {};
    AVHWDeviceContext zero_device_ = {};
    AVCodecContext to_zero_hwctx_ = {};
    AVBufferRef ref_to_zero_hwctx_ = {};
    AVHWDeviceContext device_with_zero_hwctx_ = {};
    uint64_t zero_hwctx_[8] = {};
    AVCodecContext to_zero_priv_ = {};
    AVBufferRef ref_to_zero_priv_ = {};
    AVHWDeviceContext device_with_zero_priv_ = {};
    uint64_t zero_priv_hwctx_[8] = {};
    dxva2_device_priv zero_priv_ = {};
    AVCodecContext to_half_priv_ = {};
    AVBufferRef ref_to_half_priv_ = {};
    AVHWDeviceContext device_with_half_priv_ = {};
    uint64_t half_priv_hwctx_[8] = {};
    dxva2_device_priv half_priv_ = {}; // the Direct3D 9 object without its device
    AVCodecContext to_half_d3d11_ = {};
    AVBufferRef ref_to_half_d3d11_ = {};
    AVHWDeviceContext device_with_half_d3d11_ = {};
    AVD3D11VADeviceContext half_d3d11_ = {}; // a device without its immediate context

    // Broken frames contexts of Direct3D 11 frames.
    AVBufferRef zero_frames_ref_ = {};
    AVBufferRef ref_to_zero_frames_ = {};
    AVHWFramesContext zero_frames_ = {};
    AVBufferRef ref_to_frames_with_zero_device_ = {};
    AVHWFramesContext frames_with_zero_device_ = {};
    AVHWDeviceContext zero_frames_device_ = {};
    std::vector<AVBufferRef*> frames_refs_;
};
