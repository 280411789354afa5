#include "rules.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <utility>

#include "agent/instance/instance.h"
#include "agent/instance/instance_handler.h"
#include "alloc_hooks.h"
#include "child_process.h"
#include "elf_file.h"
#include "loaded_library.h"
#include "text.h"

namespace handler_inspect {

namespace {

using Table = Instance_Handler::instances_type;

/// A rule's verdict as its child reports it.
struct Result {
    std::string result;
    std::string why;
    nlohmann::json logon;
};

Result pass()
{
    return {"PASS", "", nullptr};
}
Result fail(std::string why)
{
    return {"FAIL", std::move(why), nullptr};
}
Result skip(std::string why)
{
    return {"SKIP", std::move(why), nullptr};
}

/// What a rule's body works on, in the child.
struct Subject {
    Loaded_Library& library;
    Factory factory;
    const std::string& factory_name;
    const Channel& channel;
};

using Body = std::function<Result(Subject&)>;

std::string errno_text(int error)
{
    const char* name = strerrorname_np(error);
    return name == nullptr ? std::to_string(error) : name;
}

std::string in_quotes(const std::string& key)
{
    return "\"" + key + "\"";
}

/// A record's content, to see whether anything changed it.
json_spirit::Object snapshot(const Instance& record)
{
    json_spirit::Object object;
    record.dump(object);
    return object;
}

std::shared_ptr<Instance> make_record(const std::string& name, const std::string& type)
{
    auto record = std::make_shared<Instance>();
    record->name = name;
    record->type = type;
    record->uuid = "handler-inspect-" + type;
    record->options["handler_inspect_marker"] = json_spirit::Value(type);
    record->logon_options["handler_inspect_marker"]["by"] = json_spirit::Value(type);
    return record;
}

/// A table for one rule. It is never released: releasing records runs the
/// library's code, which is unload-safe's to judge, not every rule's. The
/// child ends with _exit, so the tables stay reachable to the end.
Table& kept_table()
{
    static std::deque<Table> tables;
    return tables.emplace_back();
}

/// Records planted in a table, each with its content when it was planted.
using Planted = std::map<std::string, std::pair<std::shared_ptr<Instance>, json_spirit::Object>>;

/// Puts a record of `type` under each of `keys` in `table`.
template <class Keys>
Planted plant(Table& table, const Keys& keys, const std::string& type)
{
    Planted planted;
    for (const auto& key : keys) {
        auto record = make_record(key, type);
        planted[key] = {record, snapshot(*record)};
        table[key] = record;
    }
    return planted;
}

/// A handler from the subject's factory.
Handler new_handler(Subject& subject)
{
    subject.channel.step("factory");
    return {subject.factory, subject.factory_name};
}

int probe(Subject& subject, Instance_Handler* handler, Table& table)
{
    subject.channel.step("probe_instances");
    return ask("probe_instances", [&] { return handler->probe_instances(table); });
}

/// The keys that the handler fills into an empty table.
std::vector<std::string> owned_keys(Subject& subject, Instance_Handler* handler)
{
    Table& table = kept_table();
    probe(subject, handler, table);
    std::vector<std::string> keys;
    for (const auto& entry : table) {
        keys.push_back(entry.first);
    }
    return keys;
}

Result rule_loads(Subject& /*subject*/)
{
    return pass(); // the library loaded and the factory resolved
}

/// What one call of the factory gave: its result, the exterminator it
/// handed back, errno after it, and the message of what it threw.
struct Factory_Call {
    Instance_Handler* handler = nullptr;
    Instance_Handler_Exterminator gobbler = nullptr;
    int error = 0;
    std::string thrown;
};

/// Calls the factory with `errno` set to `errno_before`, and an out-parameter
/// unless `null_out` is set.
Factory_Call call_factory(Subject& subject, int errno_before, bool null_out = false)
{
    subject.channel.step("factory");
    Factory_Call call;
    errno = errno_before;
    try {
        call.handler = subject.factory(null_out ? nullptr : &call.gobbler);
    } catch (const std::exception& error) {
        call.thrown = message_of(error.what());
    } catch (...) {
        call.thrown = "an exception that is not a std::exception";
    }
    call.error = errno;
    return call;
}

Result rule_factory(Subject& subject)
{
    const Factory_Call first = call_factory(subject, EDOM);
    if (!first.thrown.empty()) {
        return fail("threw: " + first.thrown);
    }
    if (first.handler == nullptr) {
        return fail("returned no handler (errno " + errno_text(first.error) + ")");
    }
    if (first.gobbler == nullptr) {
        return fail("handed back no exterminator");
    }
    if (first.error != EDOM) {
        return fail("a successful call changed errno to " + errno_text(first.error));
    }
    const Factory_Call second = call_factory(subject, EDOM, true);
    if (second.handler == nullptr) {
        return fail("with a null out-parameter it returned no handler");
    }
    subject.channel.step("get_state");
    std::string state;
    if (&ask("get_state", [&]() -> std::string& {
            return second.handler->get_state(nullptr, state);
        }) != &state) {
        return fail("the handler made with a null out-parameter does not answer get_state");
    }
    subject.channel.step("exterminator");
    first.gobbler(second.handler);
    first.gobbler(first.handler);
    return pass();
}

Result rule_factory_out_of_memory(Subject& subject)
{
    const alloc_hooks::Scope scope;
    alloc_hooks::fail_allocation(0);
    const Factory_Call call = call_factory(subject, 0);
    alloc_hooks::disarm();
    if (scope.since().failures == 0) {
        if (call.handler != nullptr && call.gobbler != nullptr) {
            call.gobbler(call.handler);
        }
        return skip("the factory allocates nothing through operator new, so no failure could be "
                    "injected");
    }
    if (!call.thrown.empty()) {
        return fail("threw instead of returning null: " + call.thrown);
    }
    if (call.handler != nullptr) {
        return fail("returned a handler although its allocation failed");
    }
    if (call.error != ENOMEM) {
        return fail("errno is " + errno_text(call.error) + ", not ENOMEM");
    }
    if (call.gobbler == nullptr) {
        return fail("had not handed back the exterminator");
    }
    return pass();
}

Result rule_exterminator_null(Subject& subject)
{
    Handler handler = new_handler(subject);
    subject.channel.step("exterminator");
    errno = EDOM;
    const alloc_hooks::Scope scope;
    handler.exterminator()(nullptr);
    const auto since = scope.since();
    if (errno != EDOM) {
        return fail("changed errno to " + errno_text(errno));
    }
    if (since.allocations() != 0 || since.deletes != 0 || since.nothrow_deletes != 0) {
        return fail("allocated or released memory");
    }
    handler.destroy();
    return pass();
}

Result rule_probe(Subject& subject)
{
    Handler handler = new_handler(subject);
    Table& table = kept_table();
    const int status = probe(subject, handler.get(), table);
    if (status != 0) {
        return fail("probe_instances returned " + std::to_string(status));
    }
    for (const auto& [key, record] : table) {
        if (!record) {
            return fail("the entry " + in_quotes(key) + " holds no record");
        }
        if (record->name != key) {
            return fail("the record under " + in_quotes(key) + " is named " +
                        in_quotes(record->name));
        }
    }
    subject.channel.step("logon");
    Result result = pass();
    result.logon = ask("logon", [&] { return handler->logon(nullptr, nullptr, nullptr, nullptr); });
#ifdef HANDLER_INSPECT_STAND_IN
    const char* type_name = handler->type_name();
    for (const auto& [key, record] : table) {
        if (type_name == nullptr || record->type != type_name) {
            result = fail("the record under " + in_quotes(key) + " has the type " +
                          in_quotes(record->type) + ", not the handler's type name");
        }
    }
#else
    result.result = "SKIP";
    result.why = "the handler's type name is known only to the stand-in framework's type_name()";
#endif
    return result;
}

Result rule_probe_keeps_others(Subject& subject)
{
    Handler handler = new_handler(subject);
    Table& table = kept_table();
    const std::string neighbours[] = {"!handler-inspect neighbour", "~handler-inspect neighbour"};
    const Planted kept = plant(table, neighbours, "neighbour");
    probe(subject, handler.get(), table);
    for (const auto& [key, expected] : kept) {
        const auto it = table.find(key);
        if (it == table.end()) {
            return fail("the entry " + in_quotes(key) + " is gone");
        }
        if (it->second != expected.first) {
            return fail("the entry " + in_quotes(key) + " holds another record");
        }
        if (snapshot(*it->second) != expected.second) {
            return fail("the record under " + in_quotes(key) + " was changed");
        }
    }
    return pass();
}

Result rule_probe_replaces(Subject& subject)
{
    Handler handler = new_handler(subject);
    const auto keys = owned_keys(subject, handler.get());
    if (keys.empty()) {
        return skip("the handler probes no instances");
    }
    Table& table = kept_table();
    const Planted old = plant(table, keys, "stale");
    probe(subject, handler.get(), table);
    for (const auto& [key, before] : old) {
        const auto it = table.find(key);
        if (it == table.end() || !it->second) {
            return fail("the entry " + in_quotes(key) + " is gone");
        }
        if (it->second == before.first) {
            return fail("the entry " + in_quotes(key) + " still holds the old record");
        }
        const Instance& fresh = *it->second;
        if (fresh.options.count("handler_inspect_marker") != 0 ||
            fresh.logon_options.count("handler_inspect_marker") != 0 || fresh.type == "stale" ||
            fresh.uuid == before.first->uuid) {
            return fail("the new record under " + in_quotes(key) +
                        " took over the old one's content");
        }
        if (snapshot(*before.first) != before.second) {
            return fail("the old record under " + in_quotes(key) + " was changed");
        }
    }
    return pass();
}

Result rule_probe_keeps_no_reference(Subject& subject)
{
    Handler handler = new_handler(subject);
    Table& table = kept_table();
    probe(subject, handler.get(), table);
    std::map<std::string, std::weak_ptr<Instance>> first;
    for (const auto& [key, record] : table) {
        first[key] = record;
    }
    probe(subject, handler.get(), table);
    for (const auto& [key, record] : first) {
        if (!record.expired() && table[key] != record.lock()) {
            return fail("the first probe's record under " + in_quotes(key) +
                        " is still held after the second probe replaced it");
        }
    }
    for (const auto& [key, record] : table) {
        if (record && record.use_count() != 1) {
            return fail("the record under " + in_quotes(key) + " has " +
                        std::to_string(record.use_count() - 1) + " holders besides the table");
        }
    }
    return pass();
}

Result rule_probe_out_of_memory(Subject& subject)
{
    Handler handler = new_handler(subject);
    const auto keys = owned_keys(subject, handler.get());
    Table& table = kept_table();
    table["!handler-inspect neighbour"] = make_record("!handler-inspect neighbour", "neighbour");
    long injected = 0;
    for (const bool holds_owned : {false, true}) {
        if (holds_owned) {
            for (const auto& key : keys) {
                table[key] = make_record(key, "stale");
            }
        }
        for (long index = 0; index < 10000; ++index) {
            const Table before = table;
            subject.channel.step("probe_instances");
            const alloc_hooks::Scope scope;
            alloc_hooks::fail_allocation(index);
            bool threw = false;
            try {
                handler->probe_instances(table);
            } catch (...) {
                threw = true;
            }
            alloc_hooks::disarm();
            const auto since = scope.since();
            if (!threw) {
                if (since.failures != 0) {
                    return fail("allocation " + std::to_string(index) +
                                " failed, and probe_instances returned as if nothing had");
                }
                break;
            }
            ++injected;
            if (since.failures == 0) {
                return fail("probe_instances threw although no allocation failed");
            }
            if (table != before) {
                return fail("with allocation " + std::to_string(index) +
                            " failing, the table changed");
            }
            if (since.live() != 0) {
                return fail("with allocation " + std::to_string(index) + " failing, " +
                            std::to_string(since.live()) + " blocks leaked");
            }
        }
    }
    if (injected == 0) {
        return fail("no allocation failure reached probe_instances");
    }
    return pass();
}

Result rule_get_state(Subject& subject)
{
    Handler handler = new_handler(subject);
    subject.channel.step("get_state");
    const std::string earlier = "earlier content, longer than a short string's own buffer";
    std::string state = earlier;
    std::string& answer =
        ask("get_state", [&]() -> std::string& { return handler->get_state(nullptr, state); });
    if (&answer != &state) {
        return fail("returned a reference to another string than the caller's");
    }
    if (state.compare(0, earlier.size(), earlier) == 0) {
        return fail("kept the string's earlier content instead of replacing it");
    }
    return pass();
}

Result rule_unload_safe(Subject& subject)
{
    Table& table = kept_table();
    {
        Handler handler = new_handler(subject);
        probe(subject, handler.get(), table);
        subject.channel.step("exterminator");
        handler.destroy();
    }
    subject.channel.step("unload");
    subject.library.close();
    subject.channel.step("release of the records");
    table.clear();
    return pass();
}

struct Child_Rule {
    const char* name;
    Body body;
};

const Child_Rule child_rules[] = {
    {"factory", rule_factory},
    {"factory-out-of-memory", rule_factory_out_of_memory},
    {"exterminator-null", rule_exterminator_null},
    {"probe", rule_probe},
    {"probe-keeps-others", rule_probe_keeps_others},
    {"probe-replaces", rule_probe_replaces},
    {"probe-keeps-no-reference", rule_probe_keeps_no_reference},
    {"probe-out-of-memory", rule_probe_out_of_memory},
    {"get-state", rule_get_state},
    {"unload-safe", rule_unload_safe},
};

/// Runs `body` in a child process with the library loaded.
Result run_rule(const Body& body, const std::string& library, const std::string& factory,
                double timeout_seconds)
{
    const auto outcome = run_in_child(
        [&](const Channel& channel) {
            nlohmann::json report;
            try {
                channel.step("load");
                Loaded_Library loaded(library);
                const Factory resolved = loaded.factory(factory);
                Subject subject{loaded, resolved, factory, channel};
                const Result result = body(subject);
                report = {{"result", result.result}, {"why", result.why}, {"logon", result.logon}};
            } catch (const std::exception& error) {
                report = {{"result", "FAIL"}, {"why", message_of(error.what())}};
            }
            channel.report(report.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
        },
        timeout_seconds);
    if (outcome.end != Child_Outcome::End::reported) {
        return fail(outcome.ending());
    }
    try {
        const auto report = nlohmann::json::parse(outcome.report);
        return {report.at("result").get<std::string>(), report.at("why").get<std::string>(),
                report.value("logon", nlohmann::json())};
    } catch (const std::exception&) {
        return fail("the child's report is malformed");
    }
}

Verdict verdict(const char* rule, const Result& result)
{
    return {rule, result.result, result.why};
}

} // namespace

Check_Report check_library(const std::string& library, const std::string& factory,
                           double timeout_seconds)
{
    Check_Report report;
    auto& verdicts = report.verdicts;
    const std::string problem = elf_problem(library);
    if (!problem.empty()) {
        verdicts.push_back({"loads", "FAIL", problem});
        for (const char* rule : {"exports", "hardening"}) {
            verdicts.push_back({rule, "SKIP", "the file is not a loadable library"});
        }
        for (const auto& rule : child_rules) {
            verdicts.push_back({rule.name, "SKIP", "the file is not a loadable library"});
        }
        return report;
    }

    const Result loads = run_rule(rule_loads, library, factory, timeout_seconds);
    verdicts.push_back(verdict("loads", loads));

    try {
        const Elf_Facts facts = read_elf_facts(library);
        std::vector<std::string> others;
        bool has_factory = false;
        for (const auto& name : facts.exported) {
            has_factory = has_factory || name == factory;
            if (name.rfind("_make_", 0) != 0) {
                others.push_back(name);
            }
        }
        if (!facts.has_dynamic_symbols) {
            verdicts.push_back({"exports", "FAIL", "the file has no dynamic symbol table"});
        } else if (!has_factory) {
            verdicts.push_back({"exports", "FAIL", "the factory " + factory + " is not exported"});
        } else if (!others.empty()) {
            std::string list;
            for (std::size_t i = 0; i < others.size() && i < 5; ++i) {
                list += (i == 0 ? "" : ", ") + others[i];
            }
            verdicts.push_back({"exports", "FAIL",
                                std::to_string(others.size()) +
                                    " symbols exported besides the factories: " + list +
                                    (others.size() > 5 ? ", ..." : "")});
        } else {
            verdicts.push_back({"exports", "PASS", ""});
        }
        std::vector<std::string> missing;
        if (!facts.relro) {
            missing.emplace_back("no RELRO");
        }
        if (!facts.bind_now) {
            missing.emplace_back("no BIND_NOW");
        }
        if (facts.text_relocations) {
            missing.emplace_back("text relocations");
        }
        if (facts.executable_stack) {
            missing.emplace_back("an executable stack");
        }
        std::string why;
        for (const auto& item : missing) {
            why += (why.empty() ? "" : ", ") + item;
        }
        verdicts.push_back({"hardening", missing.empty() ? "PASS" : "FAIL", why});
    } catch (const std::exception& error) {
        verdicts.push_back({"exports", "FAIL", message_of(error.what())});
        verdicts.push_back({"hardening", "FAIL", message_of(error.what())});
    }

    for (const auto& rule : child_rules) {
        if (loads.result != "PASS") {
            verdicts.push_back({rule.name, "SKIP", "the library does not load"});
            continue;
        }
        const Result result = run_rule(rule.body, library, factory, timeout_seconds);
        if (!result.logon.is_null()) {
            report.logon = result.logon;
        }
        verdicts.push_back(verdict(rule.name, result));
    }
    return report;
}

bool check_passed(const Check_Report& report)
{
    return std::none_of(report.verdicts.begin(), report.verdicts.end(),
                        [](const Verdict& verdict) { return verdict.result == "FAIL"; });
}

std::string render_check(const Check_Report& report, const std::string& library,
                         const std::string& factory, bool json)
{
    std::map<std::string, int> counts;
    for (const auto& verdict : report.verdicts) {
        ++counts[verdict.result];
    }
    if (json) {
        auto rules = nlohmann::json::array();
        for (const auto& verdict : report.verdicts) {
            rules.push_back(
                {{"rule", verdict.rule}, {"result", verdict.result}, {"why", verdict.why}});
        }
        const nlohmann::json document = {
            {"library", library},       {"factory", factory},       {"rules", rules},
            {"passed", counts["PASS"]}, {"failed", counts["FAIL"]}, {"skipped", counts["SKIP"]},
            {"logon", report.logon},
        };
        return document.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
    }
    std::string text;
    for (const auto& verdict : report.verdicts) {
        text += verdict.result + " " + verdict.rule +
                (verdict.why.empty() ? "" : ": " + one_line(verdict.why)) + "\n";
    }
    if (!report.logon.is_null()) {
        text += "NOTE logon with null arguments answered " + report.logon.dump() +
                " (shown, not judged)\n";
    }
    text +=
        std::to_string(counts["PASS"]) + " passed, " + std::to_string(counts["FAIL"]) + " failed";
    if (counts["SKIP"] > 0) {
        text += ", " + std::to_string(counts["SKIP"]) + " skipped";
    }
    return text + "\n";
}

} // namespace handler_inspect
