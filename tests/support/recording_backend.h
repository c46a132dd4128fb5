// A backend that draws nothing and writes down every call the front makes, installed in
// place of the platform's backends through the backend seam.
#pragma once
#include <deque>
#include <functional>
#include <list>
#include <string>
#include <vector>

#include "backend_factory.h"

// What the recording backends answer; set before the calls it should affect.
struct backend_script {
    std::deque<bool> init_results;        // consumed one per init_render; then true
    std::deque<int> check_device_results; // consumed one per check_device; then 0
    // Called by draw_overlays with the list the front hands over, under the front's mutex.
    std::function<void(std::list<overlay_group>*)> on_draw_overlays;
};

class recording_seam {
  public:
    // Installs the recording seam with a fresh journal and script; uninstalls on destruction.
    recording_seam();
    ~recording_seam();
    recording_seam(const recording_seam&) = delete;
    recording_seam& operator=(const recording_seam&) = delete;
    backend_script& script();
    // "backend op detail" per call, the backends numbered 1, 2, ... in the order they were
    // made; only the calls of `ops` when given.
    std::vector<std::string> journal(const std::vector<std::string>& ops = {}) const;
    // The luma plane the last draw_image received.
    const uint8_t* last_luma() const;
    void clear_calls();
};
