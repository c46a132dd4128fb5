// The shipped DLL through its public header only: the NV12 converter.
#include <gtest/gtest.h>

#include <vector>

#include "kx_vidrender.h"

TEST(converter, refuses_short_missing_empty_and_wrapping_buffers_before_writing)
{
    std::vector<uint8_t> src(64, 1), dst(64, 0xEE);
    uint32_t length = 64;
    uint32_t short_length = 11;
    const struct {
        uint8_t* src;
        uint32_t src_length;
        uint32_t width, height;
        uint8_t* dst;
        uint32_t& dst_length;
    } refused[] = {{src.data(), 11, 4, 2, dst.data(), length},
                   {src.data(), 12, 4, 2, dst.data(), short_length},
                   {src.data(), 12, 4, 2, nullptr, length},
                   {nullptr, 12, 4, 2, dst.data(), length},
                   {src.data(), 12, 4, 0, dst.data(), length},
                   {src.data(), 12, 0, 2, dst.data(), length},
                   // 65536 x 65536 wraps to an area of 0 in 32 bits.
                   {src.data(), 64, 65536, 65536, dst.data(), length},
                   // 4 x 3: 18 bytes by the area, but the second chroma row ends at byte 20.
                   {src.data(), 18, 4, 3, dst.data(), length}};
    for (const auto& c : refused)
        EXPECT_FALSE(kx_vidrender::yuvnv12_to_yuv420p(c.src, c.src_length, c.width, c.height, c.dst,
                                                      c.dst_length))
            << c.width << "x" << c.height << " " << c.src_length;
    EXPECT_EQ(dst, std::vector<uint8_t>(64, 0xEE));
    length = 20;
    EXPECT_TRUE(kx_vidrender::yuvnv12_to_yuv420p(src.data(), 20, 4, 3, dst.data(), length));
}

TEST(converter, matches_a_plain_deinterleave_on_an_odd_picture)
{
    const uint32_t w = 34, h = 18, area = w * h;
    std::vector<uint8_t> src(area + area / 2), dst(area + area / 2);
    for (size_t i = 0; i < src.size(); ++i)
        src[i] = static_cast<uint8_t>(i * 7 + 3);
    uint32_t length = static_cast<uint32_t>(dst.size());
    ASSERT_TRUE(::yuvnv12_to_yuv420p(src.data(), length, w, h, dst.data(), length));
    EXPECT_EQ(length, dst.size()); // read, never written
    for (uint32_t i = 0; i < area; ++i)
        ASSERT_EQ(dst[i], src[i]);
    for (uint32_t row = 0; row < h / 2; ++row)
        for (uint32_t col = 0; col < w / 2; ++col) {
            ASSERT_EQ(dst[area + row * (w / 2) + col], src[area + row * w + 2 * col]);
            ASSERT_EQ(dst[5 * (area / 4) + row * (w / 2) + col], src[area + row * w + 2 * col + 1]);
        }
}
