// The Direct3D 9 backend on Wine's real Direct3D: the software strategy's plane copy into the
// locked L8 textures against memcpy of the same bytes into the same memory, the whole upload
// (lock, copy, unlock) for information, and whole software frames per second through the
// public interface.
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

// The plane textures as the software strategy makes them, for the benchmarks that lock them
// themselves.
class plane_textures {
  public:
    explicit plane_textures(IDirect3DDevice9* device)
    {
        for (int i = 0; i < 3; ++i)
            made_ =
                SUCCEEDED(device->CreateTexture(width(i), height(i), 1, D3DUSAGE_DYNAMIC, D3DFMT_L8,
                                                D3DPOOL_DEFAULT, &textures_[i], nullptr)) &&
                made_;
    }
    ~plane_textures()
    {
        for (IDirect3DTexture9* texture : textures_)
            if (texture)
                texture->Release();
    }
    plane_textures(const plane_textures&) = delete;
    plane_textures& operator=(const plane_textures&) = delete;

    bool made() const { return made_; }
    static int width(int plane) { return plane == 0 ? upload_width : upload_width / 2; }
    static int height(int plane) { return plane == 0 ? upload_height : upload_height / 2; }

    bool lock(D3DLOCKED_RECT (&locked)[3])
    {
        bool ok = true;
        for (int i = 0; i < 3; ++i)
            ok = SUCCEEDED(textures_[i]->LockRect(0, &locked[i], nullptr, D3DLOCK_DISCARD)) && ok;
        return ok;
    }
    bool unlock()
    {
        bool ok = true;
        for (IDirect3DTexture9* texture : textures_)
            ok = SUCCEEDED(texture->UnlockRect(0)) && ok;
        return ok;
    }

  private:
    IDirect3DTexture9* textures_[3] = {};
    bool made_ = true;
};

// Copies the three planes into locked textures and times only the copies: the lock and
// unlock around them are Wine's cost, measured on their own below.
template <typename copy_fn> void time_locked_copies(benchmark::State& state, copy_fn copy)
{
    decoder_device device;
    if (!device.ready()) {
        state.SkipWithError("no Direct3D 9 device");
        return;
    }
    plane_textures textures(device.device());
    if (!textures.made()) {
        state.SkipWithError("the plane textures could not be made");
        return;
    }
    static bench::i420_picture picture(upload_width, upload_height);
    bool locked_all = true;
    for (auto _ : state) {
        D3DLOCKED_RECT locked[3];
        locked_all = textures.lock(locked) && locked_all;
        if (!locked_all)
            break;
        const double start = bench::now_seconds();
        for (int i = 0; i < 3; ++i)
            copy(static_cast<uint8_t*>(locked[i].pBits), static_cast<int>(locked[i].Pitch),
                 picture.planes()[i], picture.strides()[i], plane_textures::width(i),
                 plane_textures::height(i));
        state.SetIterationTime(bench::now_seconds() - start);
        locked_all = textures.unlock() && locked_all;
    }
    if (!locked_all)
        state.SkipWithError("the plane textures could not be locked or unlocked");
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(picture.bytes()));
}

// What upload_image does between lock and unlock: its copy of the three planes.
void d3d9_plane_copy(benchmark::State& state)
{
    time_locked_copies(state, copy_plane);
}

// The anchor: memcpy of the same bytes into the same locked memory, one call a plane.
void memcpy_planes_locked(benchmark::State& state)
{
    time_locked_copies(
        state, [](uint8_t* target, int, const uint8_t* source, int, int width, int rows) {
            std::memcpy(target, source, static_cast<size_t>(width) * static_cast<size_t>(rows));
        });
}

// What upload_image does around its copies, alone: locking (with D3DLOCK_DISCARD) and
// unlocking the three textures.
void d3d9_plane_lock_unlock(benchmark::State& state)
{
    decoder_device device;
    if (!device.ready()) {
        state.SkipWithError("no Direct3D 9 device");
        return;
    }
    plane_textures textures(device.device());
    if (!textures.made()) {
        state.SkipWithError("the plane textures could not be made");
        return;
    }
    bool locked_all = true;
    for (auto _ : state) {
        D3DLOCKED_RECT locked[3];
        locked_all = textures.lock(locked) && textures.unlock() && locked_all;
        if (!locked_all)
            break;
    }
    if (!locked_all)
        state.SkipWithError("the plane textures could not be locked or unlocked");
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
    pinned(benchmark::RegisterBenchmark("d3d9_plane_copy", d3d9_plane_copy), 200, 21,
           timing::manual);
    pinned(benchmark::RegisterBenchmark("memcpy_planes_locked", memcpy_planes_locked), 200, 21,
           timing::manual);
    pinned(benchmark::RegisterBenchmark("d3d9_plane_upload", d3d9_plane_upload), 50, 21);
    pinned(benchmark::RegisterBenchmark("d3d9_plane_lock_unlock", d3d9_plane_lock_unlock), 50, 21);
    pinned(benchmark::RegisterBenchmark("memcpy_planes", memcpy_planes), 500, 21);
    declare_ratio("d3d9_plane_copy", "memcpy_planes_locked", "<=1.5",
                  "Direct3D 9 plane copy between lock and unlock at 1080p vs memcpy of Y+U+V "
                  "into the same locked textures");
    declare_ratio("memcpy_planes_locked", "memcpy_planes", "",
                  "memcpy into locked plane textures vs into ordinary memory, 1080p");
    declare_figure("d3d9_plane_upload", false,
                   "Direct3D 9 plane upload with its lock and unlock, 1080p");
    declare_figure("d3d9_plane_lock_unlock", false,
                   "Direct3D 9 lock and unlock of the three plane textures alone, 1080p");

    pinned(benchmark::RegisterBenchmark("d3d9_whole_frames", d3d9_whole_frames), 100, 5);
    declare_figure("d3d9_whole_frames", true,
                   "software frames per second through the Direct3D 9 backend, 1280x720");
}
