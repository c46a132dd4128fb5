// The Direct3D 11 backend on a device of its own: the swap chain on a real window, the NV12
// video texture that Wine refuses (so frames are refused too), the clear of begin_render and
// the result of present, injected through a wrapper swap chain.
#include <gtest/gtest.h>

#include <memory>

#include "d3d11_readback.h"
#include "d3d11_render/d3d11_manager.h"
#include "ffmpeg_records.h"
#include "log_capture.h"
#include "test_window.h"

namespace {

constexpr char manager_source[] = "..\\..\\..\\sources\\video_render\\d3d11_render\\d3d11_manager";
// What Wine answers to the NV12 video texture.
constexpr char nv12_refused[] = "ID3D11Device::CreateTexture2D() failed, 80070057";

} // namespace

TEST(d3d11_manager, does_nothing_before_init_but_takes_its_settings)
{
    d3d11_manager manager;
    EXPECT_EQ(manager.render_type(), render_kind_d3d11);
    const int values[4] = {10, 20, 30, 40};
    EXPECT_TRUE(manager.set_image_adjust(values));
    EXPECT_FALSE(manager.set_image_adjust(nullptr));
    manager.set_color_space(2);
    uint8_t* planes[4] = {};
    EXPECT_FALSE(manager.begin_render(true, 0xFF000000));
    EXPECT_FALSE(manager.draw_image(planes, nullptr, nullptr, nullptr));
    EXPECT_FALSE(manager.present(nullptr, nullptr));
    EXPECT_EQ(manager.check_device(), device_ready);
}
