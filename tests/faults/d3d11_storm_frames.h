// Direct3D 11 frames for the fault storms, on the decoder's device or on the device the backend
// made itself, each of a grey that differs from the one before, and the check that the window
// shows a frame's picture.
#pragma once

#include <array>

#include "d3d11_fake_decoder.h"
#include "d3d11_fault_objects.h"
#include "d3d11_fault_swap_chain.h"

constexpr int storm_video_w = 64;
constexpr int storm_video_h = 32;

class storm_frames {
  public:
    // Frames of `decoder`, or of the devices the backend makes itself when `own_device`.
    storm_frames(fake_d3d11_decoder& decoder, bool own_device);
    ~storm_frames();
    storm_frames(const storm_frames&) = delete;
    storm_frames& operator=(const storm_frames&) = delete;

    // The next frame; without a texture when `empty` (a frame that may rebuild the backend
    // on a device of its own must not carry a texture of the device before).
    AVFrame next(bool empty = false);
    // The grey of the last frame with a texture.
    int luma() const { return luma_; }
    // Fills the chroma the backend's current video texture stands on with neutral values.
    void fill_chroma();
    // Whether the last picture presented in the window is the grey of the last frame.
    bool shown(const swap_chain_catcher& catcher) const { return shows(catcher, luma_); }
    // Whether it is the grey of `luma`, or black for a negative one.
    static bool shows(const swap_chain_catcher& catcher, int luma);
    // The devices the backend made, held until the run ends: true when each is left with the
    // test's reference only; they are let go.
    bool release_made_devices();

  private:
    void collect_made_devices();

    fake_d3d11_decoder& decoder_;
    bool own_device_;
    int count_ = 0;
    int luma_ = 0;
    std::vector<made_device> made_;
    ID3D11Texture2D* texture_ = nullptr; // on the latest made device
};
