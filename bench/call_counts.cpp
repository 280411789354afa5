// call_counts - each of the plug-in's calls, the same work in a baseline
// plug-in library, and the same work compiled into this program, run under
// callgrind's control so that count_instructions can compare their
// instruction counts.
//
//   valgrind --tool=callgrind --collect-atstart=no call_counts PLUGIN.so BASELINE.so
//
// Each case runs a warm-up, then a fixed number of iterations with
// collection on, and dumps the counts under the name "CASE/SIDE". Outside
// valgrind the requests do nothing and the program only runs the calls.
#include <valgrind/callgrind.h>

#include <cstdio>
#include <exception>
#include <string>

#include "agent/instance/instance_handler.h"
#include "baseline_handler.h"
#include "support/plugin_library.h"

namespace {

using Table = Instance_Handler::instances_type;

constexpr int warm_up = 100;
constexpr int iterations = 1000;

// Keeps a value from being optimised away or seen through.
template <class T>
T opaque(T value)
{
    asm volatile("" : "+r"(value));
    return value;
}

struct Side {
    const char* name;
    test_support::Handler_Factory factory;
    Instance_Handler* handler;
};

template <class Body>
void measure(const std::string& name, Body&& body)
{
    for (int i = 0; i < warm_up; ++i) {
        body();
    }
    CALLGRIND_ZERO_STATS;
    CALLGRIND_TOGGLE_COLLECT;
    for (int i = 0; i < iterations; ++i) {
        body();
    }
    CALLGRIND_TOGGLE_COLLECT;
    CALLGRIND_DUMP_STATS_AT(name.c_str());
}

void run_cases(const Side& side)
{
    const std::string suffix = std::string("/") + side.name;
    measure("probe_insert" + suffix, [&] {
        Table table;
        opaque(side.handler)->probe_instances(table);
    });
    Table held{{"Alpha", nullptr}, {"Nutanix_Proxy", nullptr}, {"Zulu", nullptr}};
    measure("probe_replace" + suffix, [&] { opaque(side.handler)->probe_instances(held); });
    std::string state;
    measure("get_state" + suffix,
            [&] { opaque(&opaque(side.handler)->get_state("Nutanix_Proxy", state)); });
    measure("logon" + suffix, [&] {
        opaque(opaque(side.handler)->logon("Nutanix_Proxy", nullptr, nullptr, nullptr));
    });
    measure("factory_and_exterminator" + suffix, [&] {
        Instance_Handler_Exterminator gobbler = nullptr;
        Instance_Handler* handler = opaque(side.factory)(&gobbler);
        gobbler(opaque(handler));
    });
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: call_counts PLUGIN.so BASELINE.so\n");
        return 2;
    }
    try {
        const test_support::Plugin_Library library(argv[1]);
        const test_support::Handler plugin(library.factory());
        const test_support::Plugin_Library baseline_library(argv[2]);
        const test_support::Handler library_handler(baseline_library.factory());
        baseline::Handler inline_handler;
        run_cases({"plugin", library.factory(), plugin.get()});
        run_cases({"library", baseline_library.factory(), library_handler.get()});
        run_cases({"inline", &baseline::make_handler, &inline_handler});
        return 0;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "call_counts: %s\n", error.what());
        return 1;
    }
}
