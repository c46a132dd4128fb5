#include "d3d_overlay_geometry.h"

#include <cmath>

#include "../overlay/overlay_rules.h"

D3DXVECTOR2 map_figure_point(const overlay_point& point, uint32_t width, uint32_t height)
{
    const float rw = static_cast<float>(
        overlay_rules::reference_or(point.ref_w, overlay_rules::normalised_units));
    const float rh = static_cast<float>(
        overlay_rules::reference_or(point.ref_h, overlay_rules::normalised_units));
    float x = static_cast<float>(point.x) * static_cast<float>(width) / rw;
    float y = static_cast<float>(point.y) * static_cast<float>(height) / rh;
    if (x < 1.0f)
        x = 1.0f;
    if (x > static_cast<float>(width) - 2.0f)
        x = static_cast<float>(width) - 2.0f;
    if (y < 1.0f)
        y = 1.0f;
    if (y > static_cast<float>(height) - 2.0f)
        y = static_cast<float>(height) - 2.0f;
    return D3DXVECTOR2(x, y);
}

std::array<D3DXVECTOR2, 73> ellipse_outline(D3DXVECTOR2 centre, float rx, float ry)
{
    std::array<D3DXVECTOR2, 73> points;
    for (int i = 0; i < 72; ++i) {
        const float angle = static_cast<float>(i) * 3.1415927f / 36.0f;
        points[static_cast<size_t>(i)] =
            D3DXVECTOR2(centre.x + rx * std::sin(angle), centre.y + ry * std::cos(angle));
    }
    points[72] = points[0];
    return points;
}

std::vector<inner_ellipse> inner_ellipse_layout(uint32_t layout, D3DXVECTOR2 max, D3DXVECTOR2 min)
{
    const float box_width = max.x - min.x;
    const float box_height = max.y - min.y;
    std::vector<inner_ellipse> ellipses;
    if (layout == 0) {
        const float rx = box_width * 0.5f, ry = box_height * 0.5f;
        ellipses.push_back({D3DXVECTOR2(min.x + rx, min.y + ry), rx, ry});
    } else if (layout == 1) {
        const float rx = box_width / 6.0f, ry = box_height * 0.5f;
        for (int i = 0; i < 3; ++i)
            ellipses.push_back(
                {D3DXVECTOR2(min.x + rx + 2.0f * rx * static_cast<float>(i), min.y + ry), rx, ry});
    } else if (layout == 2) {
        const float rx = box_width * 0.5f, ry = box_height / 6.0f;
        for (int i = 0; i < 3; ++i)
            ellipses.push_back(
                {D3DXVECTOR2(min.x + rx, min.y + ry + 2.0f * ry * static_cast<float>(i)), rx, ry});
    }
    return ellipses;
}

affine2d translation(float x, float y)
{
    affine2d transform;
    transform.dx = x;
    transform.dy = y;
    return transform;
}

affine2d scaling(float x, float y)
{
    affine2d transform;
    transform.m11 = x;
    transform.m22 = y;
    return transform;
}

affine2d then(const affine2d& a, const affine2d& b)
{
    affine2d product;
    product.m11 = a.m11 * b.m11 + a.m12 * b.m21;
    product.m12 = a.m11 * b.m12 + a.m12 * b.m22;
    product.m21 = a.m21 * b.m11 + a.m22 * b.m21;
    product.m22 = a.m21 * b.m12 + a.m22 * b.m22;
    product.dx = a.dx * b.m11 + a.dy * b.m21 + b.dx;
    product.dy = a.dx * b.m12 + a.dy * b.m22 + b.dy;
    return product;
}

D3DXVECTOR2 apply(const affine2d& t, D3DXVECTOR2 p)
{
    return D3DXVECTOR2(p.x * t.m11 + p.y * t.m21 + t.dx, p.x * t.m12 + p.y * t.m22 + t.dy);
}

D3DXMATRIX as_matrix(const affine2d& t)
{
    D3DXMATRIX matrix;
    D3DXMatrixIdentity(&matrix);
    matrix._11 = t.m11;
    matrix._12 = t.m12;
    matrix._21 = t.m21;
    matrix._22 = t.m22;
    matrix._41 = t.dx;
    matrix._42 = t.dy;
    return matrix;
}

affine2d direction_mark_frame(D3DXVECTOR2 centre, D3DXVECTOR2 direction)
{
    // A rotation by the line's angle and a quarter turn, then the move to the midpoint.
    const float rotation = std::atan2(direction.y, direction.x) + 1.5707964f;
    affine2d frame;
    frame.m11 = std::cos(rotation);
    frame.m12 = std::sin(rotation);
    frame.m21 = -frame.m12;
    frame.m22 = frame.m11;
    frame.dx = centre.x;
    frame.dy = centre.y;
    return frame;
}

std::vector<uint8_t> white_bitmap_file()
{
    constexpr uint32_t width = 240, height = 22, row_bytes = width * 3;
    constexpr uint32_t header_bytes = 14 + 40;
    constexpr uint32_t file_bytes = header_bytes + row_bytes * height;
    static_assert(file_bytes == 15894, "the white bitmap file is 15894 bytes");
    std::vector<uint8_t> file(file_bytes, 0xFF);
    auto put16 = [&file](size_t at, uint32_t value) {
        file[at] = static_cast<uint8_t>(value);
        file[at + 1] = static_cast<uint8_t>(value >> 8);
    };
    auto put32 = [&](size_t at, uint32_t value) {
        put16(at, value & 0xFFFF);
        put16(at + 2, value >> 16);
    };
    // BITMAPFILEHEADER
    put16(0, 0x4D42); // "BM"
    put32(2, file_bytes);
    put32(6, 0);
    put32(10, header_bytes);
    // BITMAPINFOHEADER
    put32(14, 40);
    put32(18, width);
    put32(22, height);
    put16(26, 1);  // planes
    put16(28, 24); // bits per pixel
    put32(30, 0);  // BI_RGB
    put32(34, row_bytes * height);
    put32(38, 2835); // 72 dots per inch
    put32(42, 2835);
    put32(46, 0);
    put32(50, 0);
    return file;
}
