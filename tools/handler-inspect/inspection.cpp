#include "inspection.h"

#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <utility>

#include "agent/instance/instance.h"
#include "agent/instance/instance_handler.h"
#include "json_spirit/json_spirit_value.h"
#include "loaded_library.h"
#include "text.h"

namespace handler_inspect {

namespace {

/// JSON values nested deeper than this are shown as a note, not converted.
constexpr int max_depth = 64;

nlohmann::json convert(const json_spirit::Value& value, int depth)
{
    if (depth > max_depth) {
        return "(nested deeper than " + std::to_string(max_depth) + " levels)";
    }
    switch (value.type()) {
    case json_spirit::obj_type: {
        auto object = nlohmann::json::object();
        for (const auto& [key, member] : value.get_obj()) {
            object[key] = convert(member, depth + 1);
        }
        return object;
    }
    case json_spirit::array_type: {
        auto array = nlohmann::json::array();
        for (const auto& element : value.get_array()) {
            array.push_back(convert(element, depth + 1));
        }
        return array;
    }
    case json_spirit::str_type: return value.get_str();
    case json_spirit::secure_str_type: return "********"; // never show a secret
    case json_spirit::bool_type: return value.get_bool();
    case json_spirit::int_type: return value.get_int64();
    case json_spirit::real_type: {
        const double number = value.get_real();
        if (std::isnan(number)) {
            return "NaN";
        }
        if (std::isinf(number)) {
            return number > 0 ? "Infinity" : "-Infinity";
        }
        return number;
    }
    case json_spirit::null_type: return nullptr;
    }
    return nullptr;
}

/// The record as the framework's own dump() maps it.
nlohmann::json to_json(const Instance& record)
{
    json_spirit::Object object;
    record.dump(object);
    return convert(json_spirit::Value(std::move(object)), 0);
}

std::string field(const nlohmann::json& record, const char* name)
{
    const auto it = record.find(name);
    return it != record.end() && it->is_string() ? one_line(it->get<std::string>())
                                                 : "(" + std::string(name) + " missing)";
}

std::string compact(const nlohmann::json& value)
{
    return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

} // namespace

void inspect_in_child(const std::string& library_path, const std::string& factory_name,
                      const Channel& channel)
{
    nlohmann::json report;
    // Records stay alive until the process ends: releasing them runs the
    // library's code, and the report is complete without that.
    static auto* table = new Instance_Handler::instances_type;
    try {
        channel.step("load");
        Loaded_Library library(library_path);
        const Factory factory = library.factory(factory_name);
        channel.step("factory");
        Handler handler(factory, factory_name);

        report["library"] = library_path;
        report["factory"] = factory_name;
#ifdef HANDLER_INSPECT_STAND_IN
        const char* type_name = handler->type_name();
        report["type_name"] = type_name == nullptr ? nlohmann::json() : nlohmann::json(type_name);
#else
        report["type_name"] = nullptr; // the agent's base does not tell
#endif
        channel.step("probe_instances");
        report["probe_instances"] =
            ask("probe_instances", [&] { return handler->probe_instances(*table); });
        auto instances = nlohmann::json::array();
        for (const auto& [key, record] : *table) {
            const char* name = key.c_str(); // structured bindings cannot be captured in C++17
            nlohmann::json entry;
            entry["key"] = key;
            entry["record"] = record ? to_json(*record) : nlohmann::json();
            std::string state;
            channel.step("get_state");
            ask("get_state", [&] { return &handler->get_state(name, state); });
            entry["state"] = state;
            channel.step("logon");
            entry["logon"] =
                ask("logon", [&] { return handler->logon(name, nullptr, nullptr, nullptr); });
            instances.push_back(std::move(entry));
        }
        report["instances"] = std::move(instances);
        channel.step("exterminator");
        handler.destroy();
        channel.step("unload");
        library.close();
    } catch (const std::exception& error) {
        report = {{"error", message_of(error.what())}};
    }
    channel.report(report.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
}

std::string render_report(const nlohmann::json& report, bool json)
{
    if (!report.is_object() || !report.contains("instances") || !report["instances"].is_array()) {
        throw std::runtime_error("the child's report is malformed");
    }
    std::string text;
    const auto line = [&text](const std::string& content) { text += content + '\n'; };
    if (json) {
        line(report.dump(2, ' ', false, nlohmann::json::error_handler_t::replace));
        return text;
    }
    const auto& type_name = report["type_name"];
    line("Library:          " + field(report, "library"));
    line("Factory:          " + field(report, "factory"));
    line("Type name:        " + (type_name.is_string() ? one_line(type_name.get<std::string>())
                                                       : std::string("(not known)")));
    line("probe_instances:  " + compact(report["probe_instances"]));
    line("Instances:        " + std::to_string(report["instances"].size()));
    for (const auto& entry : report["instances"]) {
        line("");
        line("Instance \"" + field(entry, "key") + "\"");
        const auto& record = entry["record"];
        if (!record.is_object()) {
            line("  (null record)");
        } else {
            line("  type:           " + field(record, "type"));
            line("  name:           " + field(record, "name"));
            line("  uuid:           " + field(record, "uuid"));
            line("  options:        " + compact(record.value("options", nlohmann::json())));
            line("  logon options:  " + compact(record.value("logon_options", nlohmann::json())));
        }
        line("  get_state:      " + field(entry, "state"));
        line("  logon:          " + compact(entry["logon"]));
    }
    if (report.contains("library_output")) {
        line("");
        line("Library output:   " + one_line(report["library_output"].get<std::string>()) +
             (report.value("library_output_cut", false) ? " (cut)" : ""));
    }
    return text;
}

} // namespace handler_inspect
