// The shipped DLL through its public header only: the factory, the converter and the
// operations that need no backend.
#include <gtest/gtest.h>

#include <vector>

#include "kx_vidrender.h"

TEST(converter, checks_sizes_before_converting)
{
    std::vector<uint8_t> src(12), dst(12, 0xEE);
    for (int i = 0; i < 8; ++i)
        src[i] = static_cast<uint8_t>(i);
    src[8] = 100; // U of the left pair
    src[9] = 200; // V of the left pair
    src[10] = 101;
    src[11] = 201;

    uint32_t short_length = 11;
    uint32_t exact_length = 12;
    EXPECT_FALSE(kx_vidrender::yuvnv12_to_yuv420p(src.data(), 11, 4, 2, dst.data(), exact_length));
    EXPECT_FALSE(kx_vidrender::yuvnv12_to_yuv420p(src.data(), 12, 4, 2, dst.data(), short_length));
    EXPECT_FALSE(kx_vidrender::yuvnv12_to_yuv420p(src.data(), 12, 4, 2, nullptr, exact_length));
    EXPECT_EQ(dst, std::vector<uint8_t>(12, 0xEE));

    ASSERT_TRUE(kx_vidrender::yuvnv12_to_yuv420p(src.data(), 12, 4, 2, dst.data(), exact_length));
    EXPECT_EQ(exact_length, 12u); // read, never written
    EXPECT_EQ(dst, (std::vector<uint8_t>{0, 1, 2, 3, 4, 5, 6, 7, 100, 101, 200, 201}));
}

TEST(converter, refuses_empty_and_oversized_pictures)
{
    std::vector<uint8_t> src(64), dst(64);
    uint32_t length = 64;
    EXPECT_FALSE(kx_vidrender::yuvnv12_to_yuv420p(src.data(), 64, 4, 0, dst.data(), length));
    EXPECT_FALSE(kx_vidrender::yuvnv12_to_yuv420p(src.data(), 64, 0, 4, dst.data(), length));
    EXPECT_FALSE(kx_vidrender::yuvnv12_to_yuv420p(nullptr, 64, 4, 4, dst.data(), length));
    // 65536 x 65536 wraps to an area of 0 in 32 bits.
    EXPECT_FALSE(
        kx_vidrender::yuvnv12_to_yuv420p(src.data(), 64, 65536, 65536, dst.data(), length));
}

TEST(converter, matches_a_plain_deinterleave_on_an_odd_picture)
{
    const uint32_t w = 34, h = 18, area = w * h;
    std::vector<uint8_t> src(area + area / 2), dst(area + area / 2);
    for (size_t i = 0; i < src.size(); ++i)
        src[i] = static_cast<uint8_t>(i * 7 + 3);
    uint32_t length = static_cast<uint32_t>(dst.size());
    ASSERT_TRUE(::yuvnv12_to_yuv420p(src.data(), length, w, h, dst.data(), length));
    for (uint32_t i = 0; i < area; ++i)
        ASSERT_EQ(dst[i], src[i]);
    for (uint32_t row = 0; row < h / 2; ++row)
        for (uint32_t col = 0; col < w / 2; ++col) {
            ASSERT_EQ(dst[area + row * (w / 2) + col], src[area + row * w + 2 * col]);
            ASSERT_EQ(dst[5 * (area / 4) + row * (w / 2) + col], src[area + row * w + 2 * col + 1]);
        }
}

TEST(factory, creates_any_format_and_destroys_null)
{
    for (int format : {0, 12, 53, 174, 23, -1}) {
        kx_vidrender* renderer = create_vrender(static_cast<kx_pixel_fmt>(format));
        ASSERT_NE(renderer, nullptr);
        destroy_vrender(renderer);
    }
    kx_vidrender::destroy_vrender(nullptr);
}

TEST(factory, operations_before_init_do_nothing)
{
    kx_vidrender* renderer = kx_vidrender::create_vrender(kx_pix_fmt_yuv420p);
    const int values[4] = {1, 2, 3, 4};
    EXPECT_FALSE(renderer->set_image_adjust(values));
    renderer->set_draw_callback([](void*, int, void*) {}, 1, nullptr);
    overlay_rect out = {7, 7, 7, 7, 7, 7};
    EXPECT_FALSE(renderer->get_overlay_rect(0, &out));
    EXPECT_EQ(out.left, 7);
    renderer->set_overlay_list({overlay_group{}});
    display_region region = {1, 0, 0, 5000, 0, 5000, 0, 0};
    renderer->set_display_region(&region);
    std::vector<uint8_t> buffer(64 * 48 * 3 / 2);
    renderer->render_buffer(0, buffer.data(), static_cast<uint32_t>(buffer.size()), 64, 48);
    renderer->render_frame(nullptr, 64, 48);
    kx_vidrender::destroy_vrender(renderer);
}

TEST(converter, odd_sizes_that_would_overrun_the_buffers_are_refused)
{
    // 4 x 3: the size test asks for 18 bytes, but the second chroma row ends at byte 20.
    std::vector<uint8_t> src(18, 1), dst(18, 2);
    uint32_t length = 18;
    EXPECT_FALSE(kx_vidrender::yuvnv12_to_yuv420p(src.data(), 18, 4, 3, dst.data(), length));
    src.resize(20, 1);
    dst.resize(20, 2);
    length = 20;
    EXPECT_TRUE(kx_vidrender::yuvnv12_to_yuv420p(src.data(), 20, 4, 3, dst.data(), length));
}
