// What the DirectDraw and Direct3D 11 fault storms share: the run's settings and tallies, the
// plan that numbers the platform calls a storm watches and picks those that fail, the model
// that walks the same calls and log lines as the library should, and the patching of the
// test program's imports.
#pragma once

#include "import_patch.h"

#include <windows.h>

#include <unknwn.h>

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "log_capture.h"

// Settings from the command line: `--long` for the long run, `--seed N` for the storms'
// random choices (fixed by default).
struct storm_settings {
    bool long_run = false;
    uint32_t seed = 1;
};
const storm_settings& settings();

// Counted over the whole program and printed as its summary line.
struct storm_tally {
    long faults_injected = 0;
    long frames_drawn = 0;   // frames whose picture was found in the window
    long frames_dropped = 0; // frames the backend refused while a fault lasted
    long runs = 0;           // initialisations and storms run
};
storm_tally& tally();

// Picks the calls that fail by their number, from 1.
using failing_calls = std::function<bool(int call)>;
failing_calls no_call();
failing_calls only_call(int call);
failing_calls calls_from(int call);
failing_calls two_calls(int first, int second);

// Numbers the watched calls while armed; every call it picks fails and is tallied.
class call_plan {
  public:
    void arm(failing_calls failing);
    // Stops numbering; no call fails.
    void disarm();
    // One call of `name`: true when it is to fail.
    bool fails(const std::string& name);
    // The calls made since the plan was armed, in order.
    std::vector<std::string> trace() const;

  private:
    mutable std::mutex mutex_;
    bool armed_ = false;
    failing_calls failing_;
    std::vector<std::string> trace_;
};
call_plan& plan();

// While it lives, the plan numbers calls with `failing`.
class armed_plan {
  public:
    explicit armed_plan(failing_calls failing) { plan().arm(std::move(failing)); }
    ~armed_plan() { plan().disarm(); }
    armed_plan(const armed_plan&) = delete;
    armed_plan& operator=(const armed_plan&) = delete;
};

// The calls and log lines a path should produce when the calls `failing` picks fail: the path
// is walked by the test, step by step, numbering its calls as the plan does.
class call_model {
  public:
    explicit call_model(failing_calls failing) : failing_(std::move(failing)) {}
    // One call of `name`: true when it succeeds.
    bool call(const std::string& name);
    void log(int level, const std::string& text);
    const std::vector<std::string>& trace() const { return trace_; }
    const std::vector<std::string>& lines() const { return lines_; }

  private:
    failing_calls failing_;
    std::vector<std::string> trace_;
    std::vector<std::string> lines_;
};

// Each captured line as "<level> <text>", as call_model writes them.
std::vector<std::string> leveled(const log_capture& logs);
// printf for the texts of the expected lines.
std::string formatted(const char* format, ...);
// A result code as the library prints it with %p.
std::string code_text(HRESULT code);

// Bytes of the process's working set.
size_t working_set();
// A reference count read with AddRef and Release.
ULONG reference_count(IUnknown* object);
