// The colour arithmetic shared by the Direct3D backends: YUV-to-RGB matrices per colour
// class and the contrast, brightness, saturation and hue adjustments, folded into the
// constants that the pixel shaders apply as
//   q = F * p + (bright, bright, bright, 0)
//   rgb = clamp(diag(k, k, k) * q.rgb + contrast_offset)
// where p is the offset YUV (or RGB) pixel as a column vector.
#pragma once

#include <array>

namespace color_math {

// A 4x4 matrix of four rows; products are ordinary matrix products, matrices act on
// column vectors.
struct mat4 {
    std::array<std::array<float, 4>, 4> m;
};

constexpr float deg_to_rad = 0.017453292f;
// Red, green and blue weights of the saturation and hue matrices.
constexpr float luma_weights[3] = {0.3086f, 0.6094f, 0.0820f};
constexpr float luma_scale = 1.1644f;

mat4 identity();
mat4 multiply(const mat4& a, const mat4& b);
mat4 transpose(const mat4& a);
// Rotations with rows (1,0,0,0), (0,c,s,0), (0,-s,c,0), (0,0,0,1) and their kin.
mat4 rotation_x(float radians);
mat4 rotation_y(float radians);
mat4 rotation_z(float radians);

// The fixed turns around the hue rotation: `pre` brings the grey diagonal of the colour cube
// near the third axis, `post` brings it back.
struct hue_frame {
    mat4 pre;
    mat4 post;
};
hue_frame make_hue_frame();

// Limited-range YUV (offset by 16/255 and 128/255) to RGB for a colour class: 1 BT.709,
// 2 BT.2020, anything else BT.601.
mat4 yuv_to_rgb(int color_class);

// 0 gives grey, 50 leaves colours alone, 100 gives four times the chroma distance.
mat4 saturation_matrix(int saturation);

// Whole degrees of the hue turn: 0 gives -180, 50 gives 0, 100 gives 180.
int hue_degrees(int hue);
mat4 hue_matrix(int hue, const hue_frame& frame);

// The adjustment values in the order the library receives them.
struct image_adjust {
    int contrast;
    int brightness;
    int saturation;
    int hue;
};
image_adjust adjust_from(const int values[4]);

float contrast_gain(int contrast);
float contrast_offset(float gain);
float brightness_offset(int brightness);

struct shader_constants {
    mat4 color;           // F
    mat4 contrast_matrix; // diag(k, k, k, 1)
    float contrast;       // 0.5 - 0.5 k
    float bright;         // (brightness - 50) / 100
};

// Constants for a YUV picture: F = hue * saturation * conversion.
shader_constants yuv_constants(const image_adjust& adjust, int color_class, const hue_frame& frame);
// Constants for an RGB picture: F = hue * saturation.
shader_constants rgb_constants(const image_adjust& adjust, const hue_frame& frame);

} // namespace color_math
