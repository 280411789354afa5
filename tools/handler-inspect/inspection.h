// inspection.h - the report of what a handler offers: gathered in the child
// process, printed by the parent.
#ifndef HANDLER_INSPECT_INSPECTION_H
#define HANDLER_INSPECT_INSPECTION_H

#include <string>

#include <nlohmann/json.hpp>

#include "child_process.h"

namespace handler_inspect {

/// Child side: loads the library, asks its handler everything and sends the
/// report (or {"error": ...}) through `channel`. In the records, secure
/// strings show as "********", NaN and infinities as the strings "NaN",
/// "Infinity" and "-Infinity", and values nested deeper than 64 levels as
/// the string "(nested deeper than 64 levels)".
void inspect_in_child(const std::string& library, const std::string& factory,
                      const Channel& channel);

/// Parent side: the report as text or as a JSON document. Throws
/// std::runtime_error when the report is malformed.
std::string render_report(const nlohmann::json& report, bool json);

} // namespace handler_inspect

#endif // HANDLER_INSPECT_INSPECTION_H
