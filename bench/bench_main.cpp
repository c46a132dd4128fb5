// The start-up of every benchmark program: the program's registrations, Google Benchmark's
// flags (random interleaving of repetitions unless the command line says otherwise), the run,
// and an exit status that fails when a benchmark reported an error.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

#include "bench_support.h"

namespace {

// The console report, noting whether any benchmark reported an error.
class checking_reporter final : public benchmark::ConsoleReporter {
  public:
    checking_reporter() : ConsoleReporter(OO_Tabular) {}

    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs)
            if (run.error_occurred) {
                failed_ = true;
                std::fprintf(stderr, "[bench] %s: %s\n", run.benchmark_name().c_str(),
                             run.error_message.c_str());
            }
        ConsoleReporter::ReportRuns(runs);
    }

    bool failed() const { return failed_; }

  private:
    bool failed_ = false;
};

} // namespace

int main(int argc, char** argv)
{
    std::vector<char*> arguments(argv, argv + argc);
    static char interleave[] = "--benchmark_enable_random_interleaving=true";
    arguments.insert(arguments.begin() + 1, interleave);
    int count = static_cast<int>(arguments.size());

    bench::register_benchmarks();
    benchmark::Initialize(&count, arguments.data());
    if (benchmark::ReportUnrecognizedArguments(count, arguments.data()))
        return 2;
    checking_reporter reporter;
    const size_t run = benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    if (run == 0) {
        std::fprintf(stderr, "[bench] no benchmark ran\n");
        return 1;
    }
    return reporter.failed() ? 1 : 0;
}
