#include "color_reference.h"

#include <algorithm>
#include <cmath>

namespace {

using mat3 = std::array<std::array<double, 3>, 3>;
using vec3 = std::array<double, 3>;

struct luma_weights {
    double kr, kb;
};
const luma_weights standards[3] = {{0.299, 0.114}, {0.2126, 0.0722}, {0.2627, 0.0593}};

mat3 product(const mat3& a, const mat3& b)
{
    mat3 c = {};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            for (int k = 0; k < 3; ++k)
                c[i][j] += a[i][k] * b[k][j];
    return c;
}

// Row-vector rotation about `axis` (0 x, 1 y, 2 z) by `degrees`.
mat3 rotation(int axis, double degrees)
{
    const double a = degrees * 3.14159265358979323846 / 180;
    const int i = (axis + 1) % 3, j = (axis + 2) % 3;
    mat3 m = {};
    m[axis][axis] = 1;
    m[i][i] = m[j][j] = std::cos(a);
    m[i][j] = std::sin(a);
    m[j][i] = -std::sin(a);
    return m;
}

// Saturation about the weighted grey, then the hue turned about the grey axis.
vec3 hue_and_saturation(const vec3& rgb, const adjust4& adjust)
{
    double s = adjust[2] * 0.02;
    if (adjust[2] > 0)
        s *= s;
    const double grey = (0.3086 * rgb[0] + 0.6094 * rgb[1] + 0.0820 * rgb[2]) * (1 - s);
    const vec3 saturated = {grey + s * rgb[0], grey + s * rgb[1], grey + s * rgb[2]};
    const int degrees = (18 * adjust[3]) / 5 - 180;
    const mat3 turn =
        product(product(product(rotation(0, 45), rotation(1, -35)), rotation(2, degrees)),
                product(rotation(1, 35), rotation(0, -45)));
    vec3 out = {};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            out[i] += saturated[j] * turn[j][i];
    return out;
}

rgb8 adjusted(const vec3& rgb, const adjust4& adjust)
{
    const vec3 turned = hue_and_saturation(rgb, adjust);
    const double gain = adjust[0] * 0.016 + 0.2;
    const double bright = (adjust[1] - 50) / 100.0;
    vec3 out;
    for (int i = 0; i < 3; ++i)
        out[i] = std::clamp(gain * (turned[i] + bright - 0.5) + 0.5, 0.0, 1.0) * 255;
    return {out[0], out[1], out[2]};
}

} // namespace

rgb8 expected_from_yuv(int y, int u, int v, int color_class, const adjust4& adjust)
{
    const luma_weights w = standards[color_class >= 0 && color_class <= 2 ? color_class : 0];
    const double luma = (y - 16) / 219.0, pb = (u - 128) / 224.0, pr = (v - 128) / 224.0;
    const double r = luma + 2 * (1 - w.kr) * pr;
    const double b = luma + 2 * (1 - w.kb) * pb;
    const double g = (luma - w.kr * r - w.kb * b) / (1 - w.kr - w.kb);
    return adjusted({r, g, b}, adjust);
}

rgb8 expected_from_rgb(double r, double g, double b, const adjust4& adjust)
{
    return adjusted({r / 255, g / 255, b / 255}, adjust);
}
