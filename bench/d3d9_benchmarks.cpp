// The Direct3D 9 backend on Wine's real Direct3D: the software strategy's plane upload (lock,
// copy, unlock of the three L8 textures) against memcpy of the same bytes, and whole software
// frames per second through the public interface.
#include <cstring>
#include <memory>
#include <vector>

#include "backend_factory.h"
#include "bench_support.h"
#include "d3d9_device.h"
#include "d3dx9_render/d3d9_manager.h"
#include "d3dx9_render/display_yuv420.h"
#include "kx_vidrender.h"

namespace {

constexpr int upload_width = 1920;
constexpr int upload_height = 1080;
constexpr int frame_width = 1280;
constexpr int frame_height = 720;

void d3d9_plane_upload(benchmark::State& state)
{
    decoder_device device;
    if (!device.ready()) {
        state.SkipWithError("no Direct3D 9 device");
        return;
    }
    std::unique_ptr<base_display> display(
        d3d9_manager::create_render(display_kind_yuv, device.device()));
    const RECT whole = {0, 0, upload_width, upload_height};
    if (!display ||
        !display->set_image_buffer(upload_width, upload_height, display_kind_yuv, &whole)) {
        state.SkipWithError("the software strategy could not be made");
        return;
    }
    display->set_backbuffer_format(D3DFMT_X8R8G8B8);
    static bench::i420_picture picture(upload_width, upload_height);
    bool uploaded = display->upload_image(picture.planes(), picture.strides(), nullptr);
    device.finish();

    for (auto _ : state)
        uploaded = display->upload_image(picture.planes(), picture.strides(), nullptr) && uploaded;

    if (!uploaded)
        state.SkipWithError("upload_image failed");
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(picture.bytes()));
}

// What upload_image does around its copies, alone: locking (with D3DLOCK_DISCARD) and
// unlocking three textures made as the software strategy makes its plane textures.
void d3d9_plane_lock_unlock(benchmark::State& state)
{
    decoder_device device;
    if (!device.ready()) {
        state.SkipWithError("no Direct3D 9 device");
        return;
    }
    IDirect3DTexture9* textures[3] = {};
    bool locked_all = true;
    for (int i = 0; i < 3; ++i) {
        const UINT w = i == 0 ? upload_width : upload_width / 2;
        const UINT h = i == 0 ? upload_height : upload_height / 2;
        locked_all =
            SUCCEEDED(device.device()->CreateTexture(w, h, 1, D3DUSAGE_DYNAMIC, D3DFMT_L8,
                                                     D3DPOOL_DEFAULT, &textures[i], nullptr)) &&
            locked_all;
    }

    for (auto _ : state) {
        if (!locked_all)
            break;
        for (IDirect3DTexture9* texture : textures) {
            D3DLOCKED_RECT locked;
            locked_all = SUCCEEDED(texture->LockRect(0, &locked, nullptr, D3DLOCK_DISCARD)) &&
                         SUCCEEDED(texture->UnlockRect(0)) && locked_all;
        }
    }

    for (IDirect3DTexture9* texture : textures)
        if (texture)
            texture->Release();
    if (!locked_all)
        state.SkipWithError("the plane textures could not be made, locked or unlocked");
}

void memcpy_planes(benchmark::State& state)
{
    static bench::i420_picture picture(upload_width, upload_height);
    const size_t sizes[3] = {static_cast<size_t>(upload_width) * upload_height,
                             static_cast<size_t>(upload_width / 2) * (upload_height / 2),
                             static_cast<size_t>(upload_width / 2) * (upload_height / 2)};
    std::vector<uint8_t> targets[3] = {std::vector<uint8_t>(sizes[0]),
                                       std::vector<uint8_t>(sizes[1]),
                                       std::vector<uint8_t>(sizes[2])};

    const auto copy = [&] {
        for (int i = 0; i < 3; ++i)
            std::memcpy(targets[i].data(), picture.planes()[i], sizes[i]);
    };
    copy(); // as the upload's first call before the timed ones

    for (auto _ : state) {
        copy();
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(picture.bytes()));
}

void d3d9_whole_frames(benchmark::State& state)
{
    if (!(active_backend_seam().check_render_caps() & caps_d3d9)) {
        state.SkipWithError("Direct3D 9 is not usable");
        return;
    }
    const bench::window& window = bench::window::shared(frame_width, frame_height);
    static bench::i420_picture picture(frame_width, frame_height);
    AVFrame frame = picture.frame();
    kx_vidrender* renderer = kx_vidrender::create_vrender(kx_pix_fmt_yuv420p);
    if (!renderer->init_vrender(window.handle(), frame_width, frame_height, nullptr)) {
        kx_vidrender::destroy_vrender(renderer);
        state.SkipWithError("init_vrender failed");
        return;
    }
    for (int warm_up = 0; warm_up < 10; ++warm_up)
        renderer->render_frame(&frame, frame_width, frame_height);

    for (auto _ : state) {
        renderer->render_frame(&frame, frame_width, frame_height);
        bench::window::pump_messages();
    }

    kx_vidrender::destroy_vrender(renderer);
    state.SetItemsProcessed(state.iterations());
}

} // namespace

void bench::register_benchmarks()
{
    pinned(benchmark::RegisterBenchmark("d3d9_plane_upload", d3d9_plane_upload), 50, 21);
    pinned(benchmark::RegisterBenchmark("d3d9_plane_lock_unlock", d3d9_plane_lock_unlock), 50, 21);
    pinned(benchmark::RegisterBenchmark("memcpy_planes", memcpy_planes), 500, 21);
    declare_ratio("d3d9_plane_upload", "memcpy_planes", "<=1.5",
                  "Direct3D 9 plane upload (lock, copy, unlock) at 1080p vs memcpy of Y+U+V");
    declare_figure("d3d9_plane_lock_unlock", false,
                   "Direct3D 9 lock and unlock of the three plane textures alone, 1080p");

    pinned(benchmark::RegisterBenchmark("d3d9_whole_frames", d3d9_whole_frames), 100, 5);
    declare_figure("d3d9_whole_frames", true,
                   "software frames per second through the Direct3D 9 backend, 1280x720");
}
