#include "display_hwdirect.h"

namespace {

constexpr DWORD vertex_format = D3DFVF_XYZRHW | D3DFVF_TEX3;

struct vertex {
    float x, y, z, rhw;
    float tex[3][2];
};
static_assert(sizeof(vertex) == 40, "the xrgb quad's vertices are 40 bytes");

LONG even_toward_zero(LONG value)
{
    return value / 2 * 2;
}

} // namespace

RECT dxva2_copy_rect(const RECT* crop, int source_width, int source_height)
{
    if (crop)
        return {even_toward_zero(crop->left), even_toward_zero(crop->top),
                even_toward_zero(crop->right), even_toward_zero(crop->bottom)};
    if (source_height > 720)
        return {0, 2, source_width, source_height - 2};
    return {0, 0, source_width, source_height};
}

display_hwdirect::display_hwdirect(IDirect3DDevice9* device, HRESULT* result)
    : render_device_(device)
{
    shader_ = new xrgb_shader();
    *result = shader_->init(device) ? S_OK : E_FAIL;
}

display_hwdirect::~display_hwdirect()
{
    delete shader_;
}

bool display_hwdirect::set_image_buffer(int width, int height, int kind, const RECT* rect)
{
    if (width <= 0 || height <= 0)
        return false;
    image_kind_ = kind;
    src_rect_ = rect ? RECT{0, 0, rect->right, rect->bottom} : RECT{0, 0, width, height};
    image_width_ = width;
    image_height_ = height;
    source_width_ = src_rect_.right;
    source_height_ = src_rect_.bottom;
    target_rect_ = {0, 0, width, height};
    inv_width_ = 1.0f / static_cast<float>(width);
    inv_height_ = 1.0f / static_cast<float>(height);
    return create_resources(width, height, rect);
}

bool display_hwdirect::write_vertices()
{
    void* data = nullptr;
    if (FAILED(vertex_buffer_->Lock(0, 0, &data, 0)) || !data)
        return false;
    vertex* vertices = static_cast<vertex*>(data);
    for (int i = 0; i < 4; ++i) {
        vertices[i] = {positions_[i].x, positions_[i].y, positions_[i].z, positions_[i].rhw, {}};
        for (auto& coord : vertices[i].tex) {
            coord[0] = tex_coords_[i].u;
            coord[1] = tex_coords_[i].v;
        }
    }
    vertex_buffer_->Unlock();
    return true;
}

bool display_hwdirect::create_resources(int width, int height, const RECT* dst)
{
    if (!render_device_ || !dst)
        return false;
    vertex_buffer_.Reset();
    set_positions(*dst);
    if (FAILED(render_device_->CreateVertexBuffer(
            4 * sizeof(vertex), D3DUSAGE_DYNAMIC | D3DUSAGE_WRITEONLY, vertex_format,
            D3DPOOL_DEFAULT, &vertex_buffer_, nullptr)))
        return false;
    write_vertices();
    rt_texture_.Reset();
    if (FAILED(render_device_->CreateTexture(static_cast<UINT>(width), static_cast<UINT>(height), 1,
                                             D3DUSAGE_RENDERTARGET, backbuffer_format_,
                                             D3DPOOL_DEFAULT, &rt_texture_, nullptr)))
        return false;
    rt_surface_.Reset();
    return SUCCEEDED(rt_texture_->GetSurfaceLevel(0, &rt_surface_));
}

bool display_hwdirect::release_resources()
{
    vertex_buffer_.Reset();
    rt_texture_.Reset();
    rt_surface_.Reset();
    return true;
}

bool display_hwdirect::restore_resources()
{
    RECT dst = src_rect_;
    return create_resources(image_width_, image_height_, &dst);
}

bool display_hwdirect::upload_image(uint8_t** planes, int*, const RECT* source)
{
    if (!render_device_ || !rt_surface_ || !planes)
        return false;
    frame_surface_ = reinterpret_cast<IDirect3DSurface9*>(planes[3]);
    if (!frame_surface_)
        return false;
    if (render_device_->SetRenderTarget(0, rt_surface_.Get()) != D3D_OK)
        return false;
    const RECT copy = dxva2_copy_rect(source, source_width_, source_height_);
    return render_device_->StretchRect(frame_surface_, &copy, rt_surface_.Get(), &target_rect_,
                                       D3DTEXF_LINEAR) == D3D_OK;
}

bool display_hwdirect::draw(float, int flip_flags, const RECT* dst, const RECT* src)
{
    if (!render_device_ || !rt_surface_)
        return false;
    const RECT whole_target = {0, 0, image_width_, image_height_};
    const RECT whole_source = {0, 0, source_width_, source_height_};
    if (update_geometry(flip_flags, dst ? dst : &whole_target, src ? src : &whole_source, 1.0f) &&
        vertex_buffer_)
        write_vertices();

    render_device_->SetTexture(0, rt_texture_.Get());
    render_device_->SetFVF(vertex_format);
    render_device_->SetPixelShader(shader_->shader());
    set_shader_constants(render_device_, color_math::rgb_constants(adjustment(), hue_));
    render_device_->SetStreamSource(0, vertex_buffer_.Get(), 0, sizeof(vertex));
    return render_device_->DrawPrimitive(D3DPT_TRIANGLEFAN, 0, 2) == D3D_OK;
}
