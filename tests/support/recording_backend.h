// A backend that draws nothing and writes down every call the front makes, installed in
// place of the platform's backends through the backend seam.
#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "backend_factory.h"

struct recorded_call {
    int backend;    // 1 for the first backend made since install(), 2 for the next, ...
    std::string op; // e.g. "init_render", "draw_image"
    std::string detail;
};

// What the recording backends answer; set before the calls it should affect.
struct backend_script {
    int caps = caps_d3d9;                 // the capability check's result
    std::deque<bool> init_results;        // consumed one per init_render; then...
    bool default_init_result = true;      // ...this
    std::deque<int> check_device_results; // consumed one per check_device; then...
    int default_check_device_result = 0;  // ...this
    // Called by draw_overlays with the list the front hands over, under the front's mutex.
    std::function<void(std::list<overlay_group>*)> on_draw_overlays;
};

// The planes and strides the last draw_image received.
struct drawn_picture {
    uint8_t* planes[4];
    int strides[3];
};

class recording_seam {
  public:
    // Installs the recording seam with a fresh journal and script; uninstalls on destruction.
    recording_seam();
    ~recording_seam();
    recording_seam(const recording_seam&) = delete;
    recording_seam& operator=(const recording_seam&) = delete;

    backend_script& script();
    std::vector<recorded_call> calls() const;
    // The calls' "op detail" strings, optionally only those of the given ops.
    std::vector<std::string> journal(const std::vector<std::string>& ops = {}) const;
    drawn_picture last_drawn() const;
    int backends_made() const;
    int backends_alive() const;
    void clear_calls();
};

// Formats a rectangle the way the journal does: "l,t,r,b" or "null".
std::string rect_text(const RECT* rect);
