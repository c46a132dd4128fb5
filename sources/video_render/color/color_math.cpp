#include "color_math.h"

#include <cmath>

namespace color_math {

mat4 identity()
{
    mat4 result = {};
    for (int i = 0; i < 4; ++i)
        result.m[i][i] = 1.0f;
    return result;
}

mat4 multiply(const mat4& a, const mat4& b)
{
    mat4 result = {};
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) {
            float sum = 0.0f;
            for (int k = 0; k < 4; ++k)
                sum += a.m[i][k] * b.m[k][j];
            result.m[i][j] = sum;
        }
    return result;
}

mat4 transpose(const mat4& a)
{
    mat4 result = {};
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            result.m[i][j] = a.m[j][i];
    return result;
}

mat4 rotation_x(float radians)
{
    const float c = std::cos(radians);
    const float s = std::sin(radians);
    mat4 result = identity();
    result.m[1] = {0.0f, c, s, 0.0f};
    result.m[2] = {0.0f, -s, c, 0.0f};
    return result;
}

mat4 rotation_y(float radians)
{
    const float c = std::cos(radians);
    const float s = std::sin(radians);
    mat4 result = identity();
    result.m[0] = {c, 0.0f, -s, 0.0f};
    result.m[2] = {s, 0.0f, c, 0.0f};
    return result;
}

mat4 rotation_z(float radians)
{
    const float c = std::cos(radians);
    const float s = std::sin(radians);
    mat4 result = identity();
    result.m[0] = {c, s, 0.0f, 0.0f};
    result.m[1] = {-s, c, 0.0f, 0.0f};
    return result;
}

hue_frame make_hue_frame()
{
    hue_frame frame;
    frame.pre = multiply(rotation_x(45.0f * deg_to_rad), rotation_y(-35.0f * deg_to_rad));
    frame.post = multiply(rotation_y(35.0f * deg_to_rad), rotation_x(-45.0f * deg_to_rad));
    return frame;
}

mat4 yuv_to_rgb(int color_class)
{
    // Coefficients of V in red, U in green, V in green, U in blue.
    struct coefficients {
        float vr, ug, vg, ub;
    };
    static const coefficients bt601 = {1.596f, -0.3918f, -0.813f, 2.0172f};
    static const coefficients bt709 = {1.7927f, -0.2132f, -0.5329f, 2.1124f};
    static const coefficients bt2020 = {1.6853f, -0.1881f, -0.6529f, 2.1501f};
    const coefficients& c = color_class == 1 ? bt709 : color_class == 2 ? bt2020 : bt601;

    mat4 result = {};
    result.m[0] = {luma_scale, 0.0f, c.vr, 0.0f};
    result.m[1] = {luma_scale, c.ug, c.vg, 0.0f};
    result.m[2] = {luma_scale, c.ub, 0.0f, 0.0f};
    result.m[3] = {0.0f, 0.0f, 0.0f, 1.0f};
    return result;
}

mat4 saturation_matrix(int saturation)
{
    float s = static_cast<float>(saturation) * 0.02f;
    if (saturation > 0)
        s = s * s;
    const float t = 1.0f - s;
    const float r = luma_weights[0] * t;
    const float g = luma_weights[1] * t;
    const float b = luma_weights[2] * t;
    mat4 result = {};
    result.m[0] = {r + s, g, b, 0.0f};
    result.m[1] = {r, g + s, b, 0.0f};
    result.m[2] = {r, g, b + s, 0.0f};
    result.m[3] = {0.0f, 0.0f, 0.0f, 1.0f};
    return result;
}

int hue_degrees(int hue)
{
    return (18 * hue) / 5 - 180;
}

mat4 hue_matrix(int hue, const hue_frame& frame)
{
    const float theta = static_cast<float>(hue_degrees(hue)) * deg_to_rad;
    return transpose(multiply(multiply(frame.pre, rotation_z(theta)), frame.post));
}

image_adjust adjust_from(const int values[4])
{
    return {values[0], values[1], values[2], values[3]};
}

float contrast_gain(int contrast)
{
    return static_cast<float>(contrast * 0.016 + 0.2);
}

float contrast_offset(float gain)
{
    return static_cast<float>(0.5 - 0.5 * static_cast<double>(gain));
}

float brightness_offset(int brightness)
{
    return static_cast<float>((brightness - 50) / 100.0);
}

namespace {

shader_constants constants_with(const mat4& color, const image_adjust& adjust)
{
    shader_constants result;
    result.color = color;
    const float k = contrast_gain(adjust.contrast);
    result.contrast_matrix = identity();
    for (int i = 0; i < 3; ++i)
        result.contrast_matrix.m[i][i] = k;
    result.contrast = contrast_offset(k);
    result.bright = brightness_offset(adjust.brightness);
    return result;
}

} // namespace

shader_constants yuv_constants(const image_adjust& adjust, int color_class, const hue_frame& frame)
{
    const mat4 hue_and_saturation =
        multiply(hue_matrix(adjust.hue, frame), saturation_matrix(adjust.saturation));
    return constants_with(multiply(hue_and_saturation, yuv_to_rgb(color_class)), adjust);
}

shader_constants rgb_constants(const image_adjust& adjust, const hue_frame& frame)
{
    return constants_with(
        multiply(hue_matrix(adjust.hue, frame), saturation_matrix(adjust.saturation)), adjust);
}

} // namespace color_math
