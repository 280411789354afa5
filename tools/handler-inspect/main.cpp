// handler-inspect - loads an instance-handler library in a child process, as
// the agent would load it, and shows what its handler offers (the default) or
// checks it against the contract the agent relies on (--check).
//
// Exit status: 0 when the report was shown or every rule passed, 1 when the
// library, its handler or a rule failed, or the report could not be written
// (with one line on stderr), 2 for a wrong command line.
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "child_process.h"
#include "elf_file.h"
#include "inspection.h"
#include "rules.h"
#include "text.h"

namespace {

using namespace handler_inspect;

constexpr const char* default_factory = "_make_Nutanix_Instance_Handler";
constexpr double default_timeout = 10;
constexpr const char* usage =
    "usage: handler-inspect LIBRARY.so [--factory NAME] [--json] [--check] [--timeout SECONDS]\n"
    "Loads an instance-handler library in a child process, the way the agent loads it, and\n"
    "shows its handler: its type name, the instances it probes, their states and its logon\n"
    "answer. A library that crashes, hangs, exits or prints cannot harm the tool.\n"
    "  --factory NAME     the factory to resolve (default _make_Nutanix_Instance_Handler);\n"
    "                     it must be a function defined in LIBRARY itself\n"
    "  --json             print one JSON document instead of text\n"
    "  --check            check LIBRARY against the handler contract, one rule per line:\n"
    "                     loads, exports, hardening, factory, factory-out-of-memory,\n"
    "                     exterminator-null, probe, probe-keeps-others, probe-replaces,\n"
    "                     probe-keeps-no-reference, probe-out-of-memory, get-state, unload-safe\n"
    "  --timeout SECONDS  kill a child that runs longer (default 10; per rule with --check)\n"
    "Exit status: 0 shown or all rules passed, 1 a failure (one line on stderr, or FAIL\n"
    "lines with --check), 2 a wrong command line.\n";

struct Options {
    std::string library;
    std::string factory = default_factory;
    bool json = false;
    bool check = false;
    double timeout = default_timeout;
};

std::optional<double> seconds(const std::string& text)
{
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || errno != 0 || !std::isfinite(value) || value <= 0 ||
        value > 86400) {
        return std::nullopt;
    }
    return value;
}

/// Parses the command line; nullopt when it is wrong.
std::optional<Options> parse(int argc, char** argv)
{
    Options options;
    bool have_library = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool has_next = i + 1 < argc && argv[i + 1][0] != '\0';
        if (arg == "--json") {
            options.json = true;
        } else if (arg == "--check") {
            options.check = true;
        } else if (arg == "--factory" && has_next) {
            options.factory = argv[++i];
        } else if (arg.rfind("--factory=", 0) == 0 && arg.size() > 10) {
            options.factory = arg.substr(10);
        } else if (arg == "--timeout" && has_next) {
            const auto value = seconds(argv[++i]);
            if (!value) {
                return std::nullopt;
            }
            options.timeout = *value;
        } else if (arg.rfind("--timeout=", 0) == 0) {
            const auto value = seconds(arg.substr(10));
            if (!value) {
                return std::nullopt;
            }
            options.timeout = *value;
        } else if (!arg.empty() && arg[0] != '-' && !have_library) {
            options.library = arg;
            have_library = true;
        } else {
            return std::nullopt;
        }
    }
    if (!have_library) {
        return std::nullopt;
    }
    return options;
}

int fail(const std::string& line)
{
    std::fprintf(stderr, "handler-inspect: %s\n", one_line(line).c_str());
    return 1;
}

/// Writes `text` to stdout in full, or says why it could not.
int write_out(const std::string& text, int status)
{
    const bool written = std::fwrite(text.data(), 1, text.size(), stdout) == text.size();
    const bool flushed = std::fflush(stdout) == 0 && std::ferror(stdout) == 0;
    const int error = errno;
    if (std::fclose(stdout) != 0 || !written || !flushed) {
        return fail(std::string("cannot write the report: ") +
                    std::strerror(error != 0 ? error : errno));
    }
    return status;
}

int inspect(const Options& options)
{
    const std::string problem = elf_problem(options.library);
    if (!problem.empty()) {
        return fail(options.library + ": " + problem);
    }
    const auto outcome = run_in_child(
        [&](const Channel& channel) {
            inspect_in_child(options.library, options.factory, channel);
        },
        options.timeout);
    if (outcome.end != Child_Outcome::End::reported) {
        return fail(options.library + ": " + outcome.ending());
    }
    nlohmann::json report;
    try {
        report = nlohmann::json::parse(outcome.report);
    } catch (const std::exception&) {
        return fail(options.library + ": the child's report is malformed");
    }
    if (report.contains("error")) {
        return fail(report["error"].is_string() ? report["error"].get<std::string>()
                                                : "the child's report is malformed");
    }
    if (!outcome.output.empty()) {
        report["library_output"] = valid_utf8(outcome.output);
        report["library_output_cut"] = outcome.output_cut;
    }
    std::string text;
    try {
        text = render_report(report, options.json);
    } catch (const std::exception& error) {
        return fail(options.library + ": " + message_of(error.what()));
    }
    return write_out(text, 0);
}

int check(const Options& options)
{
    const auto report = check_library(options.library, options.factory, options.timeout);
    return write_out(render_check(report, options.library, options.factory, options.json),
                     check_passed(report) ? 0 : 1);
}

} // namespace

int main(int argc, char** argv)
{
    // A closed stdout is an error to report, not a signal to die of.
    signal(SIGPIPE, SIG_IGN);
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        return write_out(usage, 0);
    }
    const auto options = parse(argc, argv);
    if (!options) {
        std::fputs(usage, stderr);
        return 2;
    }
    try {
        return options->check ? check(*options) : inspect(*options);
    } catch (const std::exception& error) {
        return fail(message_of(error.what()));
    }
}
