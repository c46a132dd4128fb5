#include "overlay_batch.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

constexpr DWORD vertex_format = D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1;
// Whole quads: a multiple of 6 vertices.
constexpr UINT buffer_vertices = 6 * 4096;
constexpr UINT white_texture_side = white_block_texels;

template <typename T> void release_object(T*& object)
{
    if (object) {
        object->Release();
        object = nullptr;
    }
}

} // namespace

void fill_white_block(const D3DLOCKED_RECT& locked)
{
    for (UINT y = 0; y < white_block_texels; ++y) {
        auto* row = reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(locked.pBits) +
                                                static_cast<size_t>(y) * locked.Pitch);
        std::fill(row, row + white_block_texels, 0xFFFFFFFFu);
    }
}

overlay_batch::~overlay_batch()
{
    release();
}

bool overlay_batch::init(IDirect3DDevice9* device)
{
    release();
    device_ = device;
    if (!device)
        return false;
    if (FAILED(device->CreateVertexBuffer(buffer_vertices * sizeof(vertex),
                                          D3DUSAGE_DYNAMIC | D3DUSAGE_WRITEONLY, vertex_format,
                                          D3DPOOL_DEFAULT, &vertex_buffer_, nullptr)) ||
        FAILED(device->CreateTexture(white_texture_side, white_texture_side, 1, D3DUSAGE_DYNAMIC,
                                     D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &white_.texture, nullptr))) {
        release();
        return false;
    }
    D3DLOCKED_RECT locked;
    if (FAILED(white_.texture->LockRect(0, &locked, nullptr, D3DLOCK_DISCARD))) {
        release();
        return false;
    }
    fill_white_block(locked);
    white_.texture->UnlockRect(0);
    white_.white_u = white_.white_v = 0.5f;
    current_ = white_;
    // A state block of exactly the states the batch sets: what it captures is put back.
    if (FAILED(device->BeginStateBlock())) {
        release();
        return false;
    }
    set_states();
    if (FAILED(device->EndStateBlock(&saved_state_)) || !saved_state_) {
        release();
        return false;
    }
    return true;
}

void overlay_batch::release()
{
    pending_.clear();
    release_object(saved_state_);
    release_object(vertex_buffer_);
    release_object(white_.texture);
    current_ = white_;
    buffer_used_ = 0;
    state_saved_ = false;
    device_ = nullptr;
}

void overlay_batch::use_texture(const batch_texture& texture)
{
    if (texture.texture != current_.texture)
        flush();
    current_ = texture;
}

void overlay_batch::let_go_of_texture()
{
    flush();
    current_ = white_;
}

void overlay_batch::add_vertices(const D3DXVECTOR2 (&corners)[4], const float (&u)[4],
                                 const float (&v)[4], uint32_t argb, float offset)
{
    if (!vertex_buffer_)
        return;
    if (!state_saved_) {
        saved_state_->Capture();
        state_saved_ = true;
    }
    static constexpr int order[6] = {0, 1, 2, 0, 2, 3};
    for (int i : order)
        pending_.push_back(
            {corners[i].x - offset, corners[i].y - offset, 0.0f, 1.0f, argb, u[i], v[i]});
}

void overlay_batch::add_polyline(const D3DXVECTOR2* points, int count, float width, uint32_t argb)
{
    const float half = std::max(width, 1.0f) * 0.5f;
    const float u[4] = {current_.white_u, current_.white_u, current_.white_u, current_.white_u};
    const float v[4] = {current_.white_v, current_.white_v, current_.white_v, current_.white_v};
    for (int i = 0; i + 1 < count; ++i) {
        const D3DXVECTOR2 a = points[i], b = points[i + 1];
        const float dx = b.x - a.x, dy = b.y - a.y;
        const float length = std::sqrt(dx * dx + dy * dy);
        // A segment of no length is a dot of the pen's size.
        const D3DXVECTOR2 along =
            length > 0.0f ? D3DXVECTOR2(dx, dy) * (half / length) : D3DXVECTOR2(half, 0.0f);
        const D3DXVECTOR2 across(-along.y, along.x);
        const D3DXVECTOR2 from = length > 0.0f ? a : a - along;
        const D3DXVECTOR2 to = length > 0.0f ? b : a + along;
        const D3DXVECTOR2 corners[4] = {from + across, to + across, to - across, from - across};
        add_vertices(corners, u, v, argb, 0.0f);
    }
}

void overlay_batch::add_solid_quad(const D3DXVECTOR2 (&corners)[4], uint32_t argb)
{
    const float u[4] = {current_.white_u, current_.white_u, current_.white_u, current_.white_u};
    const float v[4] = {current_.white_v, current_.white_v, current_.white_v, current_.white_v};
    add_vertices(corners, u, v, argb, 0.5f);
}

void overlay_batch::add_textured_quad(const batch_texture& texture, const D3DXVECTOR2 (&corners)[4],
                                      float u0, float v0, float u1, float v1, uint32_t argb)
{
    use_texture(texture);
    const float u[4] = {u0, u1, u1, u0};
    const float v[4] = {v0, v0, v1, v1};
    add_vertices(corners, u, v, argb, 0.5f);
}

void overlay_batch::set_states() const
{
    IDirect3DDevice9* d = device_;
    d->SetVertexShader(nullptr);
    d->SetPixelShader(nullptr);
    d->SetFVF(vertex_format);
    d->SetStreamSource(0, vertex_buffer_, 0, sizeof(vertex));
    d->SetTexture(0, current_.texture);
    d->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    d->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    d->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    d->SetRenderState(D3DRS_BLENDOP, D3DBLENDOP_ADD);
    d->SetRenderState(D3DRS_SEPARATEALPHABLENDENABLE, FALSE);
    d->SetRenderState(D3DRS_ALPHATESTENABLE, FALSE);
    d->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
    d->SetRenderState(D3DRS_STENCILENABLE, FALSE);
    d->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    d->SetRenderState(D3DRS_LIGHTING, FALSE);
    d->SetRenderState(D3DRS_FOGENABLE, FALSE);
    d->SetRenderState(D3DRS_SCISSORTESTENABLE, FALSE);
    d->SetRenderState(D3DRS_FILLMODE, D3DFILL_SOLID);
    d->SetRenderState(D3DRS_COLORWRITEENABLE, 0xF);
    d->SetRenderState(D3DRS_SRGBWRITEENABLE, FALSE);
    // The colour is the vertex's, the coverage the texture's.
    d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    d->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_DIFFUSE);
    d->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
    d->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
    d->SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE);
    d->SetTextureStageState(0, D3DTSS_TEXCOORDINDEX, 0);
    d->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE);
    d->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
    d->SetTextureStageState(1, D3DTSS_ALPHAOP, D3DTOP_DISABLE);
    d->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_CLAMP);
    d->SetSamplerState(0, D3DSAMP_ADDRESSV, D3DTADDRESS_CLAMP);
    d->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
    d->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
    d->SetSamplerState(0, D3DSAMP_MIPFILTER, D3DTEXF_NONE);
    d->SetSamplerState(0, D3DSAMP_SRGBTEXTURE, FALSE);
}

void overlay_batch::send(const vertex* vertices, UINT count)
{
    while (count > 0) {
        const UINT chunk = std::min(count, buffer_vertices);
        DWORD flags = D3DLOCK_NOOVERWRITE;
        if (buffer_used_ + chunk > buffer_vertices) {
            buffer_used_ = 0;
            flags = D3DLOCK_DISCARD;
        }
        void* data = nullptr;
        if (FAILED(vertex_buffer_->Lock(buffer_used_ * sizeof(vertex), chunk * sizeof(vertex),
                                        &data, flags)))
            return;
        std::memcpy(data, vertices, chunk * sizeof(vertex));
        vertex_buffer_->Unlock();
        device_->DrawPrimitive(D3DPT_TRIANGLELIST, buffer_used_, chunk / 3);
        buffer_used_ += chunk;
        vertices += chunk;
        count -= chunk;
    }
}

void overlay_batch::flush()
{
    if (pending_.empty())
        return;
    // Set each time: a D3DX sprite drawn in between may have left states of its own.
    set_states();
    send(pending_.data(), static_cast<UINT>(pending_.size()));
    pending_.clear();
}

void overlay_batch::end()
{
    flush();
    if (state_saved_)
        saved_state_->Apply();
    state_saved_ = false;
    current_ = white_;
}
