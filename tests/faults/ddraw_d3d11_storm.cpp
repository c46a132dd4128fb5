#include "ddraw_d3d11_storm.h"

#include <gtest/gtest.h>
#include <psapi.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

storm_settings the_settings;

fault_pattern call_pair(int first, int second)
{
    return {[first, second](int call) { return call == first || call == second; }, first, false,
            false, "calls " + std::to_string(first) + " and " + std::to_string(second) + " fail"};
}

// `fault`'s lines with `code` written in, as `leveled` gives them.
std::vector<std::string> fault_lines(const creation_fault& fault, const std::string& code)
{
    std::vector<std::string> lines;
    for (const char* format : {fault.line, fault.second_line})
        if (format)
            lines.push_back("1 " + formatted(format, code.c_str()));
    return lines;
}

} // namespace

const storm_settings& settings()
{
    return the_settings;
}

storm_tally& tally()
{
    static storm_tally counts;
    return counts;
}

failing_calls no_call()
{
    return [](int) { return false; };
}

fault_pattern call_alone(int n)
{
    return {[n](int call) { return call == n; }, n, true, false,
            "call " + std::to_string(n) + " fails"};
}

fault_pattern calls_from(int n)
{
    return {[n](int call) { return call >= n; }, n, false, n == 1,
            "calls from " + std::to_string(n) + " on fail"};
}

void call_plan::arm(failing_calls failing)
{
    std::lock_guard<std::mutex> lock(mutex_);
    armed_ = true;
    failing_ = std::move(failing);
    trace_.clear();
}

void call_plan::disarm()
{
    std::lock_guard<std::mutex> lock(mutex_);
    armed_ = false;
    failing_ = nullptr;
}

bool call_plan::fails(const std::string& name)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (!armed_)
        return false;
    trace_.push_back(name);
    const bool failing = failing_(static_cast<int>(trace_.size()));
    if (failing)
        ++tally().faults_injected;
    return failing;
}

std::vector<std::string> call_plan::trace() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return trace_;
}

call_plan& plan()
{
    static call_plan the_plan;
    return the_plan;
}

std::vector<std::string> leveled(const log_capture& logs)
{
    std::vector<std::string> lines;
    for (const log_line& line : logs.lines())
        lines.push_back(std::to_string(line.level) + " " + line.text);
    return lines;
}

std::string formatted(const char* format, ...)
{
    char text[512];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(text, sizeof(text), format, arguments);
    va_end(arguments);
    return text;
}

std::string code_text(HRESULT code)
{
    return formatted("%p",
                     reinterpret_cast<void*>(static_cast<uintptr_t>(static_cast<uint32_t>(code))));
}

const creation_fault* find_fault(const std::vector<creation_fault>& faults, const std::string& call,
                                 int occurrence)
{
    for (const creation_fault& fault : faults)
        if (fault.call == call && fault.occurrence == occurrence)
            return &fault;
    return nullptr;
}

int occurrence(const std::vector<std::string>& calls, int n, int from)
{
    return static_cast<int>(std::count(calls.begin() + from, calls.begin() + n, calls[n - 1]));
}

int call_number(const std::vector<std::string>& calls, const std::string& name, int occurrence)
{
    for (size_t i = 0; i < calls.size(); ++i)
        if (calls[i] == name && --occurrence == 0)
            return static_cast<int>(i + 1);
    ADD_FAILURE() << name << " is not made that often";
    return 0;
}

void print_calls(const std::string& title, const std::vector<std::string>& calls)
{
    std::printf("%s: %zu calls\n", title.c_str(), calls.size());
    for (size_t i = 0; i < calls.size(); ++i)
        std::printf("  %2zu %s\n", i + 1, calls[i].c_str());
}

bool rebuild_failed(const log_capture& logs)
{
    for (const log_line& line : logs.lines())
        if (line.level == 1 && line.text.find("update window texture error!") != std::string::npos)
            return true;
    return false;
}

std::vector<std::string> failure_lines(const log_capture& logs)
{
    std::vector<std::string> lines;
    for (const std::string& line : leveled(logs))
        if (line.compare(0, 2, "1 ") == 0)
            lines.push_back(line);
    return lines;
}

void check_run(const fault_pattern& pattern, const std::vector<std::string>& clean,
               const std::vector<std::string>& made, const creation_fault* fault,
               const std::string& code, const std::vector<std::string>& before,
               const std::string& failed_step, const log_capture& logs, bool step_ok)
{
    ++tally().runs;
    EXPECT_TRUE(made.size() >= static_cast<size_t>(pattern.first) &&
                std::equal(clean.begin(), clean.begin() + pattern.first, made.begin()))
        << "the calls up to the first failing one are not those of the run without faults";
    const std::vector<std::string> failures = failure_lines(logs);
    if (pattern.every_call) {
        EXPECT_FALSE(step_ok) << "every call failing";
    }
    if (!fault) {
        ADD_FAILURE() << "no row for call " << pattern.first;
        return;
    }
    const std::vector<std::string> own = fault_lines(*fault, code);
    const bool fails = fault->outcome == fault_outcome::fails;
    if (pattern.alone) {
        std::vector<std::string> expected = before;
        expected.insert(expected.end(), own.begin(), own.end());
        if (fails && !failed_step.empty())
            expected.push_back(failed_step);
        EXPECT_EQ(failures, expected);
        EXPECT_EQ(step_ok, !fails) << "the step's result";
        return;
    }
    for (const std::string& line : own)
        EXPECT_NE(std::find(failures.begin(), failures.end(), line), failures.end()) << line;
    if (fails) {
        EXPECT_FALSE(step_ok) << "the step's result";
        EXPECT_FALSE(failures.empty());
    }
}

void creation_storm_test::storm(bool pairs)
{
    const int count = static_cast<int>(calls_.size());
    for (int n = 1; n <= count; ++n) {
        run(call_alone(n));
        if (settings().long_run)
            run(calls_from(n));
    }
    for (int first = 1; pairs && settings().long_run && first <= count; ++first)
        for (int second = first + 1; second <= count; ++second)
            run(call_pair(first, second));
}

size_t working_set()
{
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof(counters);
    if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters)))
        return 0;
    return counters.WorkingSetSize;
}

ULONG reference_count(IUnknown* object)
{
    object->AddRef();
    return object->Release();
}

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--long") == 0) {
            the_settings.long_run = true;
        } else if (std::strcmp(argv[i], "--seed") == 0 && i + 1 < argc) {
            the_settings.seed = static_cast<uint32_t>(std::strtoul(argv[++i], nullptr, 10));
        } else {
            std::fprintf(stderr, "usage: %s [--long] [--seed N] [gtest options]\n", argv[0]);
            return 2;
        }
    }
    const int result = RUN_ALL_TESTS();
    const storm_tally& counts = tally();
    std::printf("fault storm summary (%s run, seed %u): %ld faults injected, %ld frames drawn, "
                "%ld frames dropped, %ld runs, working set %zu KiB\n",
                the_settings.long_run ? "long" : "short", the_settings.seed, counts.faults_injected,
                counts.frames_drawn, counts.frames_dropped, counts.runs, working_set() / 1024);
    return result;
}
