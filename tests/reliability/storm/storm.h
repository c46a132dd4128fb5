// What the storms share: the run's settings and tallies, the checks, the renderers under test
// with their frames and the oracle of a frame drawn, and failing platform calls.
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
    long faults = 0;
    long drawn = 0;
    long dropped = 0;
    long runs = 0;
    int failures = 0;
};
storm_run& run();

// Counts a failure, named on standard error, when `ok` is false.
bool check(bool ok, const std::string& what);
std::string code_text(const char* format, HRESULT code);
// The level-1 lines captured.
std::vector<std::string> errors(const log_capture& logs);
ULONG refcount(IUnknown* object);

// A renderer of one kind of frame on a window of its own, and its frames.
class storm_path {
  public:
    virtual ~storm_path() = default;
    virtual const char* name() const = 0;
    // A fresh renderer; true when its initialisation succeeds.
    virtual bool start() = 0;
    void stop();
    // Renders frame `n`: true when its picture reached the window.
    virtual bool frame(int n) = 0;
    // The decoder's borrowed objects, whose counts must come back.
    virtual std::vector<IUnknown*> borrowed() { return {}; }

  protected:
    test_window window_{160, 120};
    kx_vidrender* renderer_ = nullptr;
};
std::unique_ptr<storm_path> software_path(); // Direct3D 9 own device, or DirectDraw
std::unique_ptr<storm_path> dxva2_path();
std::unique_ptr<storm_path> d3d11_path();

// Frames that draw again after a fault: one of two is enough, since a rebuild may drop one.
bool draws_again(storm_path& path, int& n);

// A method answering `code` on the calls `failing` picks (numbered from 1 among the calls of
// every object on its table) and passing the rest on.
template <auto Member, class T>
std::shared_ptr<void> fail_calls(T* on, HRESULT code, std::function<bool(int)> failing)
{
    using patch = method_patch<Member>;
    int calls = 0;
    auto hook = [code, failing, calls](auto* self, auto... args) mutable -> HRESULT {
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
