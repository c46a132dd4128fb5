// A renderer made through the public factory, with the recording backends behind it, a
// real window and the library's log lines collected.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "kx_vidrender.h"
#include "log_capture.h"
#include "recording_backend.h"
#include "test_picture.h"
#include "test_window.h"

constexpr char front_source[] = "..\\..\\..\\sources\\video_render\\kx_vrender_impl";

class front_test : public ::testing::Test {
  protected:
    void TearDown() override { destroy(); }

    kx_vidrender* make(kx_pixel_fmt format)
    {
        destroy();
        renderer_ = kx_vidrender::create_vrender(format);
        return renderer_;
    }

    // A renderer of `format`, initialised on a window of window_w x window_h.
    kx_vidrender* make_ready(kx_pixel_fmt format, int window_w = 640, int window_h = 480,
                             int video_w = 320, int video_h = 240, AVCodecContext* ctx = nullptr)
    {
        window_ = std::make_unique<test_window>(window_w, window_h);
        make(format);
        EXPECT_TRUE(renderer_->init_vrender(window_->handle(), video_w, video_h, ctx));
        seam_.clear_calls();
        logs_.clear();
        return renderer_;
    }

    void destroy()
    {
        if (renderer_)
            kx_vidrender::destroy_vrender(renderer_);
        renderer_ = nullptr;
    }

    // The journal entries of the given ops, e.g. {"init_render", "draw_image"}.
    std::vector<std::string> journal(const std::vector<std::string>& ops = {}) const
    {
        return seam_.journal(ops);
    }

    recording_seam seam_;
    log_capture logs_;
    std::unique_ptr<test_window> window_;
    kx_vidrender* renderer_ = nullptr;
};
