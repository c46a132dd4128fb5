// What the Direct3D 9 storms share: the run's settings from the command line, the figures of
// the summary line, the scene every storm draws (a window, a draw callback that keeps the
// picture, overlays over it) and the checks of a drawn picture.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <list>
#include <memory>
#include <string>

#include "color_reference.h"
#include "dc_capture.h"
#include "kx_vidrender.h"
#include "log_capture.h"
#include "test_window.h"

struct storm_settings {
    int losses = 12;         // device losses per storm
    int sweeps = 1;          // failure codes tried at each creation step
    bool every_step = false; // every creation call fails in turn, not the first of each name
    unsigned seed = 1;       // the loss schedule's
};
storm_settings& storm_options();

struct storm_figures {
    int failed_presents = 0;
    int failed_cooperative_tests = 0;
    int failed_creations = 0;
    int frames_drawn = 0;
    int rebuilds = 0;

    int faults() const { return failed_presents + failed_cooperative_tests + failed_creations; }
};
storm_figures& storm_tally();

using adjust4 = std::array<int, 4>;

// A figure and a text in the top part of the window, drawn over every frame; the lower half
// of the window shows the picture alone.
std::list<overlay_group> storm_overlays();

// printf into a std::string, for the log lines that carry values.
std::string formatted(const char* format, ...);

// The picture a draw callback received: its lower half must show `expected`.
::testing::AssertionResult shows_colour(const captured_picture& picture, const rgb8& expected);

// A window and a renderer on it, with the draw callback keeping every frame's picture.
class storm_scene {
  public:
    storm_scene(int width, int height) : window_(width, height)
    {
        capture_.width = width;
        capture_.height = height;
    }

    HWND window() const { return window_.handle(); }
    const frame_capture& capture() const { return capture_; }
    // Installs the callback, the adjustment and the overlays on `renderer`.
    void dress(kx_vidrender* renderer, const adjust4& adjust);

  private:
    test_window window_;
    frame_capture capture_;
};
