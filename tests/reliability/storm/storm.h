// What the storms share: the run's tallies and checks, the renderers under test with the
// oracle of a frame drawn, and failing platform calls.
#pragma once

#include <windows.h>

#include <unknwn.h>

#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "com_patch.h"
#include "kx_vidrender.h"
#include "log_capture.h"
#include "test_window.h"

struct storm_run {
    bool long_run = false;
    std::mt19937 random{1};
    long faults = 0, drawn = 0, dropped = 0, runs = 0;
    int failures = 0;
};
storm_run& run();

// Counts a failure, named on standard error, when `ok` is false.
bool check(bool ok, const std::string& what);
// `format` with `code` written in as the library prints it (%p, %x or %d).
std::string code_text(const char* format, HRESULT code);
// The level-1 lines captured, each as "1 <text>"; "none" when there are none.
std::vector<std::string> errors(const log_capture& logs);

// A renderer of one kind of frame on a window of its own.
class storm_path {
  public:
    virtual ~storm_path() = default;
    virtual const char* name() const = 0;
    // A fresh renderer; true when its initialisation succeeds.
    virtual bool start() = 0;
    void stop();
    // Renders frame `n` (pictures change every second frame): true when it reached the window.
    virtual bool frame(int n) = 0;
    // The decoder's borrowed objects, whose counts must come back.
    virtual std::vector<IUnknown*> borrowed() { return {}; }
    // Checks that the borrowed objects' counts are those of the first call.
    void check_counts();

  protected:
    HWND window() const { return window_.handle(); }
    kx_vidrender* renderer_ = nullptr;

  private:
    std::vector<ULONG> counts_;
    test_window window_{160, 120};
};
enum class path_kind { software, dxva2, d3d11 };
std::unique_ptr<storm_path> make_path(path_kind kind);

// A picture of one of the next two frames reaches the window.
bool draws_again(storm_path& path, int& n);

// A method answering `code` to the calls `failing` picks (numbered from 1, on every object of
// its table) and passing the rest on.
template <auto Member, class T>
std::shared_ptr<void> fail_calls(T* on, HRESULT code, std::function<bool(int)> failing)
{
    using patch = method_patch<Member>;
    auto hook = [code, failing, calls = 0](auto* self, auto... args) mutable -> HRESULT {
        if (!failing(++calls))
            return patch::next(self, args...);
        ++run().faults;
        return code;
    };
    return std::make_shared<patch>(on, hook, true);
}
inline std::function<bool(int)> only_call(int n)
{
    return [n](int call) { return call == n; };
}

void creation_storms(bool ddraw_only);
