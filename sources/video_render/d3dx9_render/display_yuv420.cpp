#include "display_yuv420.h"

#include <cstring>

namespace {

constexpr DWORD vertex_format = D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX3;

struct vertex {
    float x, y, z, rhw;
    DWORD diffuse;
    float tex[3][2];
};
static_assert(sizeof(vertex) == 44, "the yuv420 quad's vertices are 44 bytes");

} // namespace

void copy_plane(uint8_t* target, int target_pitch, const uint8_t* source, int source_stride,
                int width, int rows)
{
    if (target_pitch == width && source_stride == width) {
        std::memcpy(target, source, static_cast<size_t>(width) * static_cast<size_t>(rows));
        return;
    }
    for (int row = 0; row < rows; ++row) {
        std::memcpy(target, source, static_cast<size_t>(width));
        target += target_pitch;
        source += source_stride;
    }
}

display_yuv420::display_yuv420(IDirect3DDevice9* device, HRESULT* result)
{
    device_ = device;
    shader_ = new yuv420_shader();
    *result = shader_->init(device) ? S_OK : E_FAIL;
}

display_yuv420::~display_yuv420()
{
    delete shader_;
}

bool display_yuv420::set_image_buffer(int width, int height, int kind, const RECT* rect)
{
    if (!rect || width <= 0 || height <= 0)
        return false;
    image_kind_ = kind;
    src_rect_ = {0, 0, width, height};
    inv_width_ = 1.0f / static_cast<float>(width);
    inv_height_ = 1.0f / static_cast<float>(height);
    return create_resources(width, height, rect);
}

bool display_yuv420::write_vertices(DWORD lock_flags)
{
    void* data = nullptr;
    if (FAILED(vertex_buffer_->Lock(0, 0, &data, lock_flags)) || !data)
        return false;
    vertex* vertices = static_cast<vertex*>(data);
    for (int i = 0; i < 4; ++i) {
        vertices[i] = {positions_[i].x,   positions_[i].y, positions_[i].z,
                       positions_[i].rhw, diffuse_,        {}};
        for (auto& coord : vertices[i].tex) {
            coord[0] = tex_coords_[i].u;
            coord[1] = tex_coords_[i].v;
        }
    }
    vertex_buffer_->Unlock();
    return true;
}

bool display_yuv420::create_resources(int width, int height, const RECT* dst)
{
    set_positions(*dst);
    if (FAILED(device_->CreateVertexBuffer(4 * sizeof(vertex),
                                           D3DUSAGE_DYNAMIC | D3DUSAGE_WRITEONLY, vertex_format,
                                           D3DPOOL_DEFAULT, &vertex_buffer_, nullptr)) ||
        !write_vertices(0)) {
        release_resources();
        return false;
    }
    for (int i = 0; i < 3; ++i) {
        const int w = i == 0 ? width : width / 2;
        const int h = i == 0 ? height : height / 2;
        if (FAILED(device_->CreateTexture(static_cast<UINT>(w), static_cast<UINT>(h), 1,
                                          D3DUSAGE_DYNAMIC, D3DFMT_L8, D3DPOOL_DEFAULT,
                                          &plane_textures_[i], nullptr))) {
            release_resources();
            return false;
        }
        plane_width_[i] = w;
        plane_height_[i] = h;
    }
    bind_samplers();
    return true;
}

void display_yuv420::bind_samplers()
{
    sampler_textures_[0] = plane_textures_[0].Get();
    sampler_textures_[1] = nullptr;
    sampler_textures_[2] = nullptr;
    if (image_kind_ == display_kind_yuv) {
        sampler_textures_[1] = plane_textures_[1].Get();
        sampler_textures_[2] = plane_textures_[2].Get();
    } else if (image_kind_ == display_kind_yvu) {
        sampler_textures_[1] = plane_textures_[2].Get();
        sampler_textures_[2] = plane_textures_[1].Get();
    }
}

bool display_yuv420::release_resources()
{
    vertex_buffer_.Reset();
    for (Microsoft::WRL::ComPtr<IDirect3DTexture9>& texture : plane_textures_)
        texture.Reset();
    for (IDirect3DTexture9*& texture : sampler_textures_)
        texture = nullptr;
    return true;
}

bool display_yuv420::restore_resources()
{
    RECT dst = dst_rect_;
    return create_resources(plane_width_[0], plane_height_[0], &dst);
}

bool display_yuv420::upload_image(uint8_t** planes, int* strides, const RECT*)
{
    if (!planes || !strides)
        return false;
    for (int i = 0; i < 3; ++i) {
        IDirect3DTexture9* texture = plane_textures_[i].Get();
        if (!texture)
            continue;
        D3DLOCKED_RECT locked;
        if (FAILED(texture->LockRect(0, &locked, nullptr, D3DLOCK_DISCARD)))
            return false;
        if (planes[i])
            copy_plane(static_cast<uint8_t*>(locked.pBits), static_cast<int>(locked.Pitch),
                       planes[i], strides[i], plane_width_[i], plane_height_[i]);
        if (FAILED(texture->UnlockRect(0)))
            return false;
    }
    return true;
}

bool display_yuv420::draw(float alpha, int flip_flags, const RECT* dst, const RECT* src)
{
    if (alpha <= 0.001f)
        return true;
    device_->SetFVF(vertex_format);
    device_->SetPixelShader(shader_->shader());
    set_shader_constants(device_, color_math::yuv_constants(adjustment(), color_class_, hue_));

    const RECT whole = {0, 0, plane_width_[0], plane_height_[0]};
    if (update_geometry(flip_flags, dst ? dst : &whole, src ? src : &whole, 1.0f) && vertex_buffer_)
        write_vertices(D3DLOCK_DISCARD);

    for (DWORD stage = 0; stage < 3; ++stage)
        device_->SetTexture(stage, sampler_textures_[stage]);
    device_->SetStreamSource(0, vertex_buffer_.Get(), 0, sizeof(vertex));
    device_->DrawPrimitive(D3DPT_TRIANGLEFAN, 0, 2);
    return true;
}
