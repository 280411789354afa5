// rules.h - `--check`: the contract that the agent relies on, as rules that
// any instance-handler library can be checked against, each in a child
// process of its own.
#ifndef HANDLER_INSPECT_RULES_H
#define HANDLER_INSPECT_RULES_H

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace handler_inspect {

struct Verdict {
    std::string rule;
    std::string result; ///< "PASS", "FAIL" or "SKIP"
    std::string why;    ///< one line; empty for a PASS
};

// NOLINTNEXTLINE(bugprone-exception-escape): a null JSON value is made without throwing
struct Check_Report {
    std::vector<Verdict> verdicts;
    nlohmann::json logon; ///< the answer to a logon with null arguments, not judged
};

/// Runs every rule on `library` with its factory `factory`.
Check_Report check_library(const std::string& library, const std::string& factory,
                           double timeout_seconds);

/// The verdicts as text (a line per rule, then "N passed, M failed[, K
/// skipped]") or as one JSON document.
std::string render_check(const Check_Report& report, const std::string& library,
                         const std::string& factory, bool json);

/// Whether every rule passed or was skipped.
bool check_passed(const Check_Report& report);

} // namespace handler_inspect

#endif // HANDLER_INSPECT_RULES_H
