// The DirectDraw manager below the front: the state before initialisation.
#include <gtest/gtest.h>

#include <libyuv/convert_argb.h>

#include <cstring>
#include <memory>

#include "ddraw_render/ddraw_manager.h"
#include "log_capture.h"
#include "test_picture.h"
#include "test_window.h"

TEST(ddraw_manager, does_nothing_before_initialisation)
{
    ddraw_manager manager;
    EXPECT_EQ(manager.check_device(), device_skip);
    EXPECT_FALSE(manager.draw_image(nullptr, nullptr, nullptr, nullptr));
    EXPECT_FALSE(manager.present(nullptr, nullptr));
    EXPECT_EQ(manager.copy_format_key(), ddraw_manager::copy_format_none);
}
