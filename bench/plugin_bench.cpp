// The plug-in's calls against the cheapest version of the same work.
//
// Every case runs through each dlopen'ed library, as the agent calls it, and
// as a baseline that does the same work inline in this binary. The handlers
// are reached through an opaque pointer, so that no virtual call is
// devirtualised. Each case also counts the allocations it makes per
// operation with a replaced operator new.
//
//   plugin_bench PLUGIN.so [VARIANT.so...] [--check-allocations] [--repetitions=N]
//                [benchmark flags...]
//
// Each case runs N repetitions (15 by default) in random order (interleaved
// rounds). After the runs it
// prints, for each case and library, the ratio of the median repetition to
// the baseline's median, and the first library's allocations per
// operation; --check-allocations exits 1 when a count is above the
// algorithm's minimum. Further libraries (builds of the plug-in with other
// flags, say) are measured side by side in the same run.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <future>
#include <map>
#include <memory>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include <benchmark/benchmark.h>

#include "agent/instance/instance.h"
#include "agent/instance/instance_handler.h"
#include "alloc_hooks.h"
#include "baseline_handler.h"
#include "json_spirit/json_spirit_value.h"
#include "support/plugin_library.h"

namespace {

using Table = Instance_Handler::instances_type;

// An Instance_Handler* the optimiser cannot see through.
Instance_Handler* opaque(Instance_Handler* handler)
{
    benchmark::DoNotOptimize(handler);
    return handler;
}

struct Side {
    const char* name = ""; // a literal, or a part of argv
    test_support::Handler_Factory factory = nullptr;
    Instance_Handler* handler = nullptr;
    Instance_Handler_Exterminator gobbler = nullptr;
};

Table table_holding_the_proxy()
{
    Table table;
    for (int i = 0; i < 999; ++i) {
        table["instance_" + std::to_string(1000 + i)] = std::make_shared<Instance>();
    }
    table["Nutanix_Proxy"] = std::make_shared<Instance>();
    return table;
}

void report_allocations(benchmark::State& state, const alloc_hooks::Scope& scope)
{
    state.counters["allocs_per_op"] = benchmark::Counter(
        static_cast<double>(scope.since().allocations()), benchmark::Counter::kAvgIterations);
}

void probe_insert(benchmark::State& state, const Side& side)
{
    const alloc_hooks::Scope scope;
    for ([[maybe_unused]] auto _ : state) {
        Table table;
        benchmark::DoNotOptimize(opaque(side.handler)->probe_instances(table));
        benchmark::DoNotOptimize(table);
    }
    // Releasing the table frees what the probe made, so the count is per probe.
    report_allocations(state, scope);
}

void probe_replace(benchmark::State& state, const Side& side)
{
    Table table = table_holding_the_proxy();
    const alloc_hooks::Scope scope;
    for ([[maybe_unused]] auto _ : state) {
        benchmark::DoNotOptimize(opaque(side.handler)->probe_instances(table));
        benchmark::ClobberMemory();
    }
    report_allocations(state, scope);
}

void get_state(benchmark::State& state, const Side& side)
{
    // Off the stack: there, by an address coincidence with the plug-in's
    // literal, the plug-in side ran some 10% slower on byte-identical code.
    const auto answer = std::make_unique<std::string>();
    const alloc_hooks::Scope scope;
    for ([[maybe_unused]] auto _ : state) {
        benchmark::DoNotOptimize(&opaque(side.handler)->get_state("Nutanix_Proxy", *answer));
    }
    report_allocations(state, scope);
}

void logon(benchmark::State& state, const Side& side)
{
    const alloc_hooks::Scope scope;
    for ([[maybe_unused]] auto _ : state) {
        benchmark::DoNotOptimize(
            opaque(side.handler)->logon("Nutanix_Proxy", nullptr, nullptr, nullptr));
    }
    report_allocations(state, scope);
}

void factory_and_exterminator(benchmark::State& state, const Side& side)
{
    const alloc_hooks::Scope scope;
    for ([[maybe_unused]] auto _ : state) {
        Instance_Handler_Exterminator gobbler = nullptr;
        Instance_Handler* handler = side.factory(&gobbler);
        benchmark::DoNotOptimize(handler);
        gobbler(handler);
    }
    report_allocations(state, scope);
}

struct Case {
    const char* name;
    void (*run)(benchmark::State&, const Side&);
    double minimum_allocations; // the algorithm's least, per operation
};

const Case cases[] = {
    {"probe_insert", probe_insert, 3},   // record-and-count block, option node, table node
    {"probe_replace", probe_replace, 2}, // record-and-count block, option node
    {"get_state", get_state, 0},
    {"logon", logon, 0},
    {"factory_and_exterminator", factory_and_exterminator, 1},
};

struct Result {
    std::vector<double> times; // per iteration, one per repetition
    double allocations = 0;

    double median() const
    {
        std::vector<double> sorted = times;
        std::sort(sorted.begin(), sorted.end());
        const std::size_t n = sorted.size();
        return n == 0 ? 0 : n % 2 == 1 ? sorted[n / 2] : (sorted[n / 2 - 1] + sorted[n / 2]) / 2;
    }
};

/// Shows the runs as the console does, and keeps every repetition's time.
class Collecting_Reporter : public benchmark::ConsoleReporter {
public:
    // Colour only on a terminal.
    Collecting_Reporter() : ConsoleReporter(isatty(STDOUT_FILENO) != 0 ? OO_Defaults : OO_Tabular)
    {
    }

    std::map<std::string, Result> results;

    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const auto& run : runs) {
            if (run.error_occurred || run.run_type != Run::RT_Iteration) {
                continue;
            }
            auto& result = results[run.run_name.function_name];
            result.times.push_back(run.GetAdjustedRealTime());
            const auto counter = run.counters.find("allocs_per_op");
            result.allocations = counter == run.counters.end() ? -1 : counter->second.value;
        }
    }
};

int run_benchmarks(int argc, char** argv)
{
    std::vector<std::unique_ptr<test_support::Plugin_Library>> libraries;
    std::vector<Side> sides;
    bool check_allocations = false;
    // Interleaved rounds by default; a flag on the command line overrides it.
    char interleave[] = "--benchmark_enable_random_interleaving=true";
    std::vector<char*> args{argv[0], interleave};
    int repetitions = 15;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--check-allocations") == 0) {
            check_allocations = true;
        } else if (std::strncmp(argv[i], "--repetitions=", 14) == 0) {
            repetitions = std::max(1, std::atoi(argv[i] + 14));
        } else if (argv[i][0] == '-') {
            args.push_back(argv[i]);
        } else {
            try {
                libraries.push_back(std::make_unique<test_support::Plugin_Library>(argv[i]));
            } catch (const std::exception& error) {
                std::fprintf(stderr, "plugin_bench: %s\n", error.what());
                return 1;
            }
            Side side;
            const char* slash = std::strrchr(argv[i], '/');
            side.name = libraries.size() == 1 ? "plugin" : slash == nullptr ? argv[i] : slash + 1;
            side.factory = libraries.back()->factory();
            side.handler = side.factory(&side.gobbler);
            if (side.handler == nullptr) {
                std::fprintf(stderr, "plugin_bench: %s: the factory returned no handler\n",
                             argv[i]);
                return 1;
            }
            sides.push_back(side);
        }
    }
    if (libraries.empty()) {
        std::fprintf(stderr, "usage: plugin_bench PLUGIN.so [VARIANT.so...] [--check-allocations] "
                             "[--repetitions=N] [benchmark flags...]\n");
        return 2;
    }
    int bench_argc = static_cast<int>(args.size());
    benchmark::Initialize(&bench_argc, args.data());
    if (benchmark::ReportUnrecognizedArguments(bench_argc, args.data())) {
        return 2;
    }

    const auto inline_handler = std::make_unique<baseline::Handler>();
    Side baseline_side;
    baseline_side.name = "baseline";
    baseline_side.handler = inline_handler.get();
    baseline_side.factory = &baseline::make_handler;
    sides.push_back(baseline_side);

    for (const auto& c : cases) {
        for (const Side& side : sides) {
            const std::string name = std::string(c.name) + "/" + side.name;
            benchmark::RegisterBenchmark(name.c_str(), c.run, side)->Repetitions(repetitions);
        }
    }
    // The agent's process has threads, so shared_ptr counts atomically there;
    // an idle thread makes this process count the same way.
    std::promise<void> stop;
    std::thread idle([done = stop.get_future()] { done.wait(); });
    Collecting_Reporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    stop.set_value();
    idle.join();
    for (const Side& side : sides) {
        if (side.gobbler != nullptr) {
            side.gobbler(side.handler);
        }
    }

    int status = 0;
    std::printf("\nmedian time against the baseline's, and allocations per operation\n");
    std::printf("%-26s", "case");
    for (std::size_t i = 0; i + 1 < sides.size(); ++i) {
        std::printf(" %14.14s", sides[i].name);
    }
    std::printf(" %18s\n", "allocs/op (min)");
    for (const auto& c : cases) {
        const auto& baseline_result = reporter.results[std::string(c.name) + "/baseline"];
        if (baseline_result.times.empty()) {
            continue;
        }
        std::printf("%-26s", c.name);
        for (std::size_t i = 0; i + 1 < sides.size(); ++i) {
            const auto& result = reporter.results[std::string(c.name) + "/" + sides[i].name];
            std::printf(" %14.3f", result.median() / baseline_result.median());
        }
        const auto& plugin = reporter.results[std::string(c.name) + "/plugin"];
        const bool allocations_ok = plugin.allocations <= c.minimum_allocations + 1e-9;
        std::printf(" %12.2f (%g)%s\n", plugin.allocations, c.minimum_allocations,
                    allocations_ok ? "" : " TOO MANY");
        if (check_allocations && !allocations_ok) {
            status = 1;
        }
    }
    benchmark::Shutdown();
    return status;
}

} // namespace

int main(int argc, char** argv)
{
    try {
        return run_benchmarks(argc, argv);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "plugin_bench: %s\n", error.what());
        return 1;
    }
}
