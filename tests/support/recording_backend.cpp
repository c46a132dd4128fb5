#include "recording_backend.h"

#include <cstdio>

namespace {

struct seam_state {
    std::recursive_mutex mutex;
    backend_script script;
    std::vector<recorded_call> calls;
    int made = 0;
    int alive = 0;
    drawn_picture last_drawn = {};
};

seam_state& state()
{
    static seam_state instance;
    return instance;
}

void record(int backend, const std::string& op, const std::string& detail = std::string())
{
    std::lock_guard<std::recursive_mutex> lock(state().mutex);
    state().calls.push_back({backend, op, detail});
}

template <typename... Args> std::string format(const char* text, Args... args)
{
    char buffer[512];
    std::snprintf(buffer, sizeof(buffer), text, args...);
    return buffer;
}

class recording_backend final : public vrender_base {
  public:
    recording_backend(int kind, int id) : id_(id)
    {
        render_type_ = kind;
        std::lock_guard<std::recursive_mutex> lock(state().mutex);
        ++state().alive;
        record(id_, "construct", format("kind %d", kind));
    }

    ~recording_backend() override
    {
        record(id_, "destroy");
        std::lock_guard<std::recursive_mutex> lock(state().mutex);
        --state().alive;
    }

    bool init_render(HWND window, int video_width, int video_height, int target_width,
                     int target_height, AVCodecContext* codec_ctx) override
    {
        bool result;
        {
            std::lock_guard<std::recursive_mutex> lock(state().mutex);
            auto& results = state().script.init_results;
            result = results.empty() ? state().script.default_init_result : results.front();
            if (!results.empty())
                results.pop_front();
        }
        record(id_, "init_render",
               format("video %dx%d target %dx%d window %s ctx %p", video_width, video_height,
                      target_width, target_height, window ? "set" : "null",
                      static_cast<void*>(codec_ctx)));
        return result;
    }

    bool begin_render(bool clear, uint32_t argb) override
    {
        record(id_, "begin_render", format("%d %08X", clear ? 1 : 0, argb));
        return true;
    }

    bool draw_image(uint8_t** planes, int* strides, RECT* destination, RECT* source) override
    {
        record(id_, "draw_image",
               format("strides %d,%d,%d dst %s src %s", strides ? strides[0] : -1,
                      strides ? strides[1] : -1, strides ? strides[2] : -1,
                      rect_text(destination).c_str(), rect_text(source).c_str()));
        std::lock_guard<std::recursive_mutex> lock(state().mutex);
        drawn_picture& drawn = state().last_drawn;
        for (int i = 0; i < 4; ++i)
            drawn.planes[i] = planes ? planes[i] : nullptr;
        for (int i = 0; i < 3; ++i)
            drawn.strides[i] = strides ? strides[i] : 0;
        return true;
    }

    bool update_image(uint8_t**, int*, RECT* source) override
    {
        record(id_, "update_image", format("src %s", rect_text(source).c_str()));
        return true;
    }

    bool draw_overlays(std::list<overlay_group>* groups, int reference_width, int reference_height,
                       RECT* area) override
    {
        record(id_, "draw_overlays",
               format("groups %d ref %dx%d area %s", static_cast<int>(groups->size()),
                      reference_width, reference_height, rect_text(area).c_str()));
        std::function<void(std::list<overlay_group>*)> hook;
        {
            std::lock_guard<std::recursive_mutex> lock(state().mutex);
            hook = state().script.on_draw_overlays;
        }
        if (hook)
            hook(groups);
        invoke_draw_callback(this);
        return true;
    }

    bool present(void*, void*) override
    {
        record(id_, "present");
        return true;
    }

    int check_device() override
    {
        int result;
        {
            std::lock_guard<std::recursive_mutex> lock(state().mutex);
            auto& results = state().script.check_device_results;
            result = results.empty() ? state().script.default_check_device_result : results.front();
            if (!results.empty())
                results.pop_front();
        }
        record(id_, "check_device", format("%d", result));
        return result;
    }

    bool set_image_adjust(const int* values) override
    {
        record(id_, "set_image_adjust",
               format("%d,%d,%d,%d", values[0], values[1], values[2], values[3]));
        return true;
    }

    void set_color_space(int color_class) override
    {
        record(id_, "set_color_space", format("%d", color_class));
    }

  private:
    int id_;
};

int recorded_caps()
{
    std::lock_guard<std::recursive_mutex> lock(state().mutex);
    return state().script.caps;
}

std::unique_ptr<vrender_base> make_recording_backend(int kind)
{
    int id;
    {
        std::lock_guard<std::recursive_mutex> lock(state().mutex);
        id = ++state().made;
    }
    return std::make_unique<recording_backend>(kind, id);
}

const backend_seam recording_backend_seam = {recorded_caps, make_recording_backend};

} // namespace

std::string rect_text(const RECT* rect)
{
    if (!rect)
        return "null";
    return format("%ld,%ld,%ld,%ld", rect->left, rect->top, rect->right, rect->bottom);
}

recording_seam::recording_seam()
{
    {
        std::lock_guard<std::recursive_mutex> lock(state().mutex);
        state().script = backend_script();
        state().calls.clear();
        state().made = 0;
    }
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

std::vector<recorded_call> recording_seam::calls() const
{
    std::lock_guard<std::recursive_mutex> lock(state().mutex);
    return state().calls;
}

std::vector<std::string> recording_seam::journal(const std::vector<std::string>& ops) const
{
    std::vector<std::string> lines;
    for (const recorded_call& call : calls()) {
        bool wanted = ops.empty();
        for (const std::string& op : ops)
            wanted = wanted || op == call.op;
        if (wanted)
            lines.push_back(std::to_string(call.backend) + " " + call.op +
                            (call.detail.empty() ? "" : " " + call.detail));
    }
    return lines;
}

drawn_picture recording_seam::last_drawn() const
{
    std::lock_guard<std::recursive_mutex> lock(state().mutex);
    return state().last_drawn;
}

int recording_seam::backends_made() const
{
    std::lock_guard<std::recursive_mutex> lock(state().mutex);
    return state().made;
}

int recording_seam::backends_alive() const
{
    std::lock_guard<std::recursive_mutex> lock(state().mutex);
    return state().alive;
}

void recording_seam::clear_calls()
{
    std::lock_guard<std::recursive_mutex> lock(state().mutex);
    state().calls.clear();
}
