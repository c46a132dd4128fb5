// What the DirectDraw and Direct3D 11 fault storms share: the run's settings and tallies, the
// plan that numbers the platform calls a storm watches and picks those that fail, what the
// creation storms check of each run, and the patching of the test program's imports.
#pragma once

#include "import_patch.h"

#include <gtest/gtest.h>

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

// The failing calls of one run of a creation storm, with its label.
struct fault_pattern {
    failing_calls failing;
    int first = 0;           // the first call that fails
    bool alone = false;      // no other call fails
    bool every_call = false; // all calls fail
    std::string label;
};
fault_pattern call_alone(int n);
fault_pattern calls_from(int n);

// How an initialisation (or a rebuild) ends when one of its creation calls fails alone.
enum class fault_outcome {
    fails,    // it reports failure
    draws,    // it goes on, and the picture is drawn as after a clean one
    degraded, // it reports success without all the picture needs: whether the picture shows
              // is up to the platform
};

// A creation call failing alone: the `occurrence`-th call of `call`, how the initialisation
// ends and the lines the backend logs for it at level 1 (printf formats, "%s" standing for the
// failure code as the backend prints it).
struct creation_fault {
    std::string call;
    int occurrence;
    fault_outcome outcome;
    const char* line = nullptr;
    const char* second_line = nullptr;
};
// The row of the `occurrence`-th call of `call`, or null.
const creation_fault* find_fault(const std::vector<creation_fault>& faults, const std::string& call,
                                 int occurrence);
// Which call of its name the n-th of `calls` is (from 1), counting from `calls[from]` on.
int occurrence(const std::vector<std::string>& calls, int n, int from = 0);
// The number (from 1) of the `occurrence`-th call of `name` among `calls`.
int call_number(const std::vector<std::string>& calls, const std::string& name, int occurrence);
// The calls of a run without faults, numbered, on the standard output.
void print_calls(const std::string& title, const std::vector<std::string>& calls);
// The captured level-1 lines, as `leveled` gives them.
std::vector<std::string> failure_lines(const log_capture& logs);
// Whether the front logged a failed rebuild of a frame whose window or video size changed.
bool rebuild_failed(const log_capture& logs);

// One run of a creation storm checked, and tallied. Up to its first failing call it must make
// the `clean` calls. Its level-1 lines and its step's result (`step_ok`) are checked against the
// row of that call and its failure `code`. A call failing alone must log the lines `before`,
// the row's, and `failed_step` where the row fails the step (none when empty), and end as its
// row says. Of a cascade only what the later failures cannot change is checked: the first
// failing call's lines are logged; where it alone fails the step, the step reports failure with
// at least one level-1 line; where every call fails, it reports failure.
void check_run(const fault_pattern& pattern, const std::vector<std::string>& clean,
               const std::vector<std::string>& made, const creation_fault* fault,
               const std::string& code, const std::vector<std::string>& before,
               const std::string& failed_step, const log_capture& logs, bool step_ok);

// What the fixtures of the creation storms share: the calls of their step without faults and
// of the latest one, and the storm of failing calls over them.
class creation_storm_test : public ::testing::Test {
  protected:
    // One run of the step with the calls of `pattern` failing, checked.
    virtual void run(const fault_pattern& pattern) = 0;
    // Each call failing alone; in the long run also with all after it, and every pair when
    // `pairs`.
    void storm(bool pairs);
    // The number of the `occurrence`-th call of `call` in the step without faults.
    int nth(const std::string& call, int occurrence)
    {
        return call_number(calls_, call, occurrence);
    }

    std::vector<std::string> calls_; // made by the step without faults
    std::vector<std::string> made_;  // made by the latest step
};

// Each captured line as "<level> <text>".
std::vector<std::string> leveled(const log_capture& logs);
// printf for the texts of the expected lines.
std::string formatted(const char* format, ...);
// A result code as the library prints it with %p.
std::string code_text(HRESULT code);

// Bytes of the process's working set.
size_t working_set();
// A reference count read with AddRef and Release.
ULONG reference_count(IUnknown* object);
