// The overlays the library draws itself on a Direct3D 9 device, without D3DX: pretransformed
// triangles through the fixed pipeline, kept in the order they are added and sent in as few
// draws as the textures allow. Solid shapes (outlines, boxes) sample a white block that every
// texture the batch draws from carries; glyph quads sample their glyph texture. The device
// state the batch needs is set at every send, and the caller's state is put back at `end`.
#pragma once

#include <d3dx9.h>

#include <cstdint>
#include <vector>

// A texture the batch draws from, with the texture coordinates of its white block.
struct batch_texture {
    IDirect3DTexture9* texture = nullptr;
    float white_u = 0.0f;
    float white_v = 0.0f;
};

// Every batch texture keeps its top-left corner of this many texels opaque white.
constexpr UINT white_block_texels = 4;
// Writes the white block into a locked A8R8G8B8 texture.
void fill_white_block(const D3DLOCKED_RECT& locked);

class overlay_batch {
  public:
    overlay_batch() = default;
    ~overlay_batch();
    overlay_batch(const overlay_batch&) = delete;
    overlay_batch& operator=(const overlay_batch&) = delete;

    // The vertex buffer, the state block and the white texture, once per device.
    bool init(IDirect3DDevice9* device);
    void release();

    // A polyline of back-buffer points `width` pixels wide: each segment a quad centred on it,
    // without joins, as D3DX draws its lines.
    void add_polyline(const D3DXVECTOR2* points, int count, float width, uint32_t argb);
    // A quad given by its four corners in order, in back-buffer pixel edges (a pixel's centre
    // lies half a pixel inside them): solid, or textured from `texture` with the texel
    // rectangle [u0, u1] x [v0, v1].
    void add_solid_quad(const D3DXVECTOR2 (&corners)[4], uint32_t argb);
    void add_textured_quad(const batch_texture& texture, const D3DXVECTOR2 (&corners)[4], float u0,
                           float v0, float u1, float v1, uint32_t argb);

    // Sends what has been added; the texture it was drawn from may then change.
    void flush();
    // Sends what has been added and lets go of the texture it was drawn from, which may then
    // be released.
    void let_go_of_texture();
    // Sends the rest and gives the device back its state as it was before the first quad.
    void end();

  private:
    struct vertex {
        float x, y, z, rhw;
        DWORD colour;
        float u, v;
    };
    void use_texture(const batch_texture& texture);
    void add_vertices(const D3DXVECTOR2 (&corners)[4], const float (&u)[4], const float (&v)[4],
                      uint32_t argb, float offset);
    void set_states() const;
    void send(const vertex* vertices, UINT count);

    IDirect3DDevice9* device_ = nullptr;
    IDirect3DVertexBuffer9* vertex_buffer_ = nullptr;
    IDirect3DStateBlock9* saved_state_ = nullptr;
    batch_texture white_;
    batch_texture current_;
    std::vector<vertex> pending_;
    UINT buffer_used_ = 0;
    bool state_saved_ = false;
};
