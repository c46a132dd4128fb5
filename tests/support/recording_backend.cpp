#include "recording_backend.h"

#include <algorithm>
#include <cstdio>
#include <mutex>

namespace {

struct seam_state {
    std::recursive_mutex mutex;
    backend_script script;
    std::vector<std::pair<std::string, std::string>> calls; // op, journal line
    int made = 0;
    const uint8_t* last_luma = nullptr;
};

seam_state& state()
{
    static seam_state instance;
    return instance;
}

template <typename... Args> std::string format(const char* text, Args... args)
{
    char buffer[512];
    std::snprintf(buffer, sizeof(buffer), text, args...);
    return buffer;
}

std::string rect_text(const RECT* rect)
{
    return rect ? format("%ld,%ld,%ld,%ld", rect->left, rect->top, rect->right, rect->bottom)
                : "null";
}

// The front entry of `answers`, removed; `otherwise` when there is none.
template <typename T> T next(std::deque<T>& answers, T otherwise)
{
    std::lock_guard<std::recursive_mutex> lock(state().mutex);
    if (answers.empty())
        return otherwise;
    const T answer = answers.front();
    answers.pop_front();
    return answer;
}

class recording_backend final : public vrender_base {
  public:
    explicit recording_backend(int kind) : id_(++state().made)
    {
        render_type_ = kind;
        record("construct", format("kind %d", kind));
    }
    ~recording_backend() override { record("destroy"); }
    bool init_render(HWND window, int video_width, int video_height, int target_width,
                     int target_height, AVCodecContext* codec_ctx) override
    {
        record("init_render", format("video %dx%d target %dx%d window %s ctx %p", video_width,
                                     video_height, target_width, target_height,
                                     window ? "set" : "null", static_cast<void*>(codec_ctx)));
        return next(state().script.init_results, true);
    }
    bool begin_render(bool clear, uint32_t argb) override
    {
        return record("begin_render", format("%d %08X", clear ? 1 : 0, argb));
    }
    bool draw_image(uint8_t** planes, int* strides, RECT* destination, RECT* source) override
    {
        std::lock_guard<std::recursive_mutex> lock(state().mutex);
        state().last_luma = planes ? planes[0] : nullptr;
        return record("draw_image",
                      format("strides %d,%d,%d dst %s src %s", strides[0], strides[1], strides[2],
                             rect_text(destination).c_str(), rect_text(source).c_str()));
    }
    bool update_image(uint8_t**, int*, RECT* source) override
    {
        return record("update_image", "src " + rect_text(source));
    }
    bool draw_overlays(std::list<overlay_group>* groups, int reference_width, int reference_height,
                       RECT* area) override
    {
        record("draw_overlays", format("groups %d ref %dx%d area %s", int(groups->size()),
                                       reference_width, reference_height, rect_text(area).c_str()));
        if (state().script.on_draw_overlays)
            state().script.on_draw_overlays(groups);
        invoke_draw_callback(this);
        return true;
    }
    bool present(void*, void*) override { return record("present"); }
    int check_device() override
    {
        const int result = next(state().script.check_device_results, 0);
        record("check_device", format("%d", result));
        return result;
    }
    bool set_image_adjust(const int* v) override
    {
        return record("set_image_adjust", format("%d,%d,%d,%d", v[0], v[1], v[2], v[3]));
    }
    void set_color_space(int color_class) override
    {
        record("set_color_space", format("%d", color_class));
    }

  private:
    bool record(const std::string& op, const std::string& detail = std::string())
    {
        std::lock_guard<std::recursive_mutex> lock(state().mutex);
        state().calls.push_back(
            {op, std::to_string(id_) + " " + op + (detail.empty() ? "" : " " + detail)});
        return true;
    }
    int id_;
};

int recorded_caps()
{
    return caps_d3d9;
}

std::unique_ptr<vrender_base> make_recording_backend(int kind)
{
    std::lock_guard<std::recursive_mutex> lock(state().mutex);
    return std::make_unique<recording_backend>(kind);
}

const backend_seam recording_backend_seam = {recorded_caps, make_recording_backend};

} // namespace

recording_seam::recording_seam()
{
    std::lock_guard<std::recursive_mutex> lock(state().mutex);
    state().script = backend_script();
    state().calls.clear();
    state().made = 0;
    install_backend_seam(&recording_backend_seam);
}

recording_seam::~recording_seam()
{
    install_backend_seam(nullptr);
}

backend_script& recording_seam::script()
{
    return state().script;
}

std::vector<std::string> recording_seam::journal(const std::vector<std::string>& ops) const
{
    std::lock_guard<std::recursive_mutex> lock(state().mutex);
    std::vector<std::string> lines;
    for (const auto& call : state().calls)
        if (ops.empty() || std::find(ops.begin(), ops.end(), call.first) != ops.end())
            lines.push_back(call.second);
    return lines;
}

const uint8_t* recording_seam::last_luma() const
{
    std::lock_guard<std::recursive_mutex> lock(state().mutex);
    return state().last_luma;
}

void recording_seam::clear_calls()
{
    std::lock_guard<std::recursive_mutex> lock(state().mutex);
    state().calls.clear();
}
