#include "color_reference.h"

#include <algorithm>
#include <cmath>

namespace {

using matrix = std::array<std::array<double, 4>, 4>;
using vector4 = std::array<double, 4>;

const double pi = 3.14159265358979323846;

matrix product(const matrix& a, const matrix& b)
{
    matrix c = {};
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            for (int k = 0; k < 4; ++k)
                c[i][j] += a[i][k] * b[k][j];
    return c;
}

matrix transposed(const matrix& a)
{
    matrix t = {};
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            t[i][j] = a[j][i];
    return t;
}

matrix rx(double degrees)
{
    const double c = std::cos(degrees * pi / 180), s = std::sin(degrees * pi / 180);
    return {{{1, 0, 0, 0}, {0, c, s, 0}, {0, -s, c, 0}, {0, 0, 0, 1}}};
}

matrix ry(double degrees)
{
    const double c = std::cos(degrees * pi / 180), s = std::sin(degrees * pi / 180);
    return {{{c, 0, -s, 0}, {0, 1, 0, 0}, {s, 0, c, 0}, {0, 0, 0, 1}}};
}

matrix rz(double degrees)
{
    const double c = std::cos(degrees * pi / 180), s = std::sin(degrees * pi / 180);
    return {{{c, s, 0, 0}, {-s, c, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}}};
}

// Hue and saturation: the grey axis turned onto the third axis, rotated, turned back.
matrix hue_saturation(const std::array<int, 4>& adjust)
{
    const int saturation = adjust[2];
    double s = saturation * 0.02;
    if (saturation > 0)
        s *= s;
    const double w[3] = {0.3086 * (1 - s), 0.6094 * (1 - s), 0.0820 * (1 - s)};
    const matrix ms = {{{w[0] + s, w[1], w[2], 0},
                        {w[0], w[1] + s, w[2], 0},
                        {w[0], w[1], w[2] + s, 0},
                        {0, 0, 0, 1}}};
    const int degrees = (18 * adjust[3]) / 5 - 180;
    const matrix turn =
        product(product(product(rx(45), ry(-35)), rz(degrees)), product(ry(35), rx(-45)));
    return product(transposed(turn), ms);
}

rgb8 finish(const matrix& f, const vector4& p, const std::array<int, 4>& adjust)
{
    const double gain = adjust[0] * 0.016 + 0.2;
    const double bright = (adjust[1] - 50) / 100.0;
    double out[3];
    for (int i = 0; i < 3; ++i) {
        double q = bright;
        for (int k = 0; k < 4; ++k)
            q += f[i][k] * p[k];
        out[i] = std::clamp(gain * q + 0.5 - 0.5 * gain, 0.0, 1.0) * 255.0;
    }
    return {out[0], out[1], out[2]};
}

} // namespace

rgb8 expected_from_yuv(int y, int u, int v, int color_class, const std::array<int, 4>& adjust)
{
    struct coefficients {
        double vr, ug, vg, ub;
    };
    const coefficients table[3] = {{1.596, -0.3918, -0.813, 2.0172},
                                   {1.7927, -0.2132, -0.5329, 2.1124},
                                   {1.6853, -0.1881, -0.6529, 2.1501}};
    const coefficients& c = table[color_class >= 0 && color_class <= 2 ? color_class : 0];
    const matrix conversion = {
        {{1.1644, 0, c.vr, 0}, {1.1644, c.ug, c.vg, 0}, {1.1644, c.ub, 0, 0}, {0, 0, 0, 1}}};
    const vector4 p = {(y - 16) / 255.0, (u - 128) / 255.0, (v - 128) / 255.0, 1};
    return finish(product(hue_saturation(adjust), conversion), p, adjust);
}

rgb8 expected_from_rgb(int r, int g, int b, const std::array<int, 4>& adjust)
{
    const vector4 p = {r / 255.0, g / 255.0, b / 255.0, 1};
    return finish(hue_saturation(adjust), p, adjust);
}
