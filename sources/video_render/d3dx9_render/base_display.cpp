#include "base_display.h"

base_display::base_display() = default;

base_display::~base_display() = default;

void base_display::set_backbuffer_format(D3DFORMAT format)
{
    backbuffer_format_ = format;
}

void base_display::set_adjust(const int values[4])
{
    for (int i = 0; i < 4; ++i)
        adjust_[i] = values[i];
}

color_math::image_adjust base_display::adjustment() const
{
    return color_math::adjust_from(adjust_);
}

void base_display::set_positions(const RECT& dst)
{
    dst_rect_ = dst;
    positions_ = positions_for(dst);
}

bool base_display::update_geometry(int flip_flags, const RECT* dst, const RECT* src, float alpha)
{
    bool changed = false;
    if (alpha != alpha_) {
        alpha_ = alpha;
        diffuse_ = diffuse_for(alpha);
        changed = true;
    }
    if (!same_rect(*dst, dst_rect_)) {
        set_positions(*dst);
        changed = true;
    }
    if (same_rect(*src, src_rect_) && flip_flags == flip_flags_)
        return changed;
    src_rect_ = *src;
    tex_coords_ = tex_coords_for(*src, inv_width_, inv_height_, flip_flags);
    flip_flags_ = flip_flags;
    return true;
}

void base_display::set_shader_constants(IDirect3DDevice9* device,
                                        const color_math::shader_constants& constants)
{
    const float contrast[4] = {constants.contrast, 0.0f, 0.0f, 0.0f};
    const float bright[4] = {constants.bright, 0.0f, 0.0f, 0.0f};
    device->SetPixelShaderConstantF(0, &constants.color.m[0][0], 4);
    device->SetPixelShaderConstantF(4, &constants.contrast_matrix.m[0][0], 4);
    device->SetPixelShaderConstantF(8, contrast, 1);
    device->SetPixelShaderConstantF(9, bright, 1);
}
