// The plug-in as the agent sees it: loaded with dlopen, reached through its
// factory, and spoken to only through Instance_Handler.
#include <dlfcn.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <typeinfo>

#include <gtest/gtest.h>

#include "agent/instance/instance.h"
#include "agent/instance/instance_handler.h"
#include "agent/testing/framework_hooks.h"
#include "json_spirit/json_spirit_value.h"
#include "support/plugin_library.h"

namespace {

using test_support::Handler;
using test_support::Plugin_Library;
using Table = Instance_Handler::instances_type;

class Plugin_Test : public ::testing::Test {
protected:
    Plugin_Library library_{PLUGIN_PATH};
    Handler handler_{library_.factory()};
};

// The record a probe must produce, field by field: what the framework's
// constructor gives, with the name, the type and "is_proxy" set.
void expect_proxy_record(const Instance& record)
{
    EXPECT_EQ(record.type, "nutanix");
    EXPECT_EQ(record.name, "Nutanix_Proxy");
    const auto it = record.options.find("is_proxy");
    ASSERT_NE(it, record.options.end());
    ASSERT_EQ(it->second.type(), json_spirit::bool_type);
    EXPECT_TRUE(it->second.get_bool());
    const Instance fresh;
    auto options = fresh.options;
    options["is_proxy"] = json_spirit::Value(true);
    EXPECT_EQ(record.options, options);
    EXPECT_EQ(record.uuid, fresh.uuid);
    EXPECT_EQ(record.logon_options, fresh.logon_options);
}

// The shared object that holds `address`.
std::string object_holding(const void* address)
{
    Dl_info info{};
    return dladdr(address, &info) != 0 && info.dli_fname != nullptr ? info.dli_fname : "";
}

std::shared_ptr<Instance> make_record(const std::string& name, const std::string& type)
{
    auto record = std::make_shared<Instance>();
    record->name = name;
    record->type = type;
    record->options["port"] = json_spirit::Value(9440);
    return record;
}

TEST_F(Plugin_Test, FactoryHandsBackHandlerForTypeNutanixAndItsExterminator)
{
    ASSERT_NE(handler_.get(), nullptr);
    EXPECT_NE(handler_.exterminator(), nullptr);
    EXPECT_STREQ(handler_->type_name(), "nutanix");
    // The base may keep the pointer for as long as the library is loaded: it
    // must be the library's own constant, not a temporary or a copy.
    EXPECT_EQ(object_holding(handler_->type_name()), PLUGIN_PATH);
    const Instance_Handler& handler = *handler_.get();
    EXPECT_NE(std::strstr(typeid(handler).name(), "24Nutanix_Instance_Handler"), nullptr)
        << typeid(handler).name();
}

TEST_F(Plugin_Test, ProbeFillsTableWithTheProxyAndKeepsOtherEntries)
{
    struct Case {
        const char* what;
        std::map<std::string, std::string> before; // name to type of pre-existing entries
    };
    const Case cases[] = {
        {"empty table", {}},
        {"other entries", {{"A_Instance", "vmware"}, {"zzz", "hyperv"}}},
        {"neighbours on both sides of the key", {{"Nutanix", "x"}, {"Nutanix_Proxy2", "y"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Table table;
        std::map<std::string, std::shared_ptr<Instance>> kept;
        for (const auto& [name, type] : c.before) {
            table[name] = kept[name] = make_record(name, type);
        }
        EXPECT_EQ(handler_->probe_instances(table), 0);
        ASSERT_EQ(table.size(), c.before.size() + 1);
        ASSERT_NE(table.at("Nutanix_Proxy"), nullptr);
        expect_proxy_record(*table.at("Nutanix_Proxy"));
        for (const auto& [name, record] : kept) {
            EXPECT_EQ(table.at(name), record) << name; // the very same record, untouched
            EXPECT_EQ(record->options.size(), 1U) << name;
        }
    }
}

TEST_F(Plugin_Test, ProbeReplacesAnExistingProxyRecordWithoutMergingIt)
{
    Table table;
    auto old_record = make_record("Nutanix_Proxy", "stale");
    old_record->uuid = "1b4e28ba-2fa1-11d2-883f-0016d3cca427";
    old_record->options["is_proxy"] = json_spirit::Value("yes"); // a string, not a boolean
    old_record->logon_options["admin"]["user"] = json_spirit::Value("root");
    table["Nutanix_Proxy"] = old_record;

    EXPECT_EQ(handler_->probe_instances(table), 0);

    ASSERT_EQ(table.size(), 1U);
    ASSERT_NE(table.at("Nutanix_Proxy"), old_record);
    expect_proxy_record(*table.at("Nutanix_Proxy"));
    // Whoever still holds the old record keeps it valid and unchanged.
    EXPECT_EQ(old_record.use_count(), 1);
    EXPECT_EQ(old_record->type, "stale");
    EXPECT_EQ(old_record->options.at("is_proxy").get_str(), "yes");
    EXPECT_EQ(old_record->options.size(), 2U);
}

TEST_F(Plugin_Test, EveryProbeBuildsAFreshRecordAndKeepsNoReference)
{
    Table table;
    ASSERT_EQ(handler_->probe_instances(table), 0);
    const std::weak_ptr<Instance> first = table.at("Nutanix_Proxy");
    ASSERT_EQ(handler_->probe_instances(table), 0);

    ASSERT_EQ(table.size(), 1U);
    EXPECT_TRUE(first.expired()) << "the first record outlived its last holder";
    EXPECT_EQ(table.at("Nutanix_Proxy").use_count(), 1) << "the handler kept a reference";
    expect_proxy_record(*table.at("Nutanix_Proxy"));
}

TEST_F(Plugin_Test, ProbeKeepsWhatTheFrameworkConstructorGaveAndReplacesIsProxy)
{
    using json_spirit::Object;
    using json_spirit::Value;
    Instance::logon_type logon;
    logon["prism"]["user"] = Value("admin");
    struct Case {
        const char* what;
        Object options; // what the framework's Instance() starts with
    };
    const Case cases[] = {
        {"no options", {}},
        {"other options", {{"port", Value(9440)}, {"zone", Value("a")}}},
        {"is_proxy false", {{"is_proxy", Value(false)}}},
        {"is_proxy a string", {{"is_proxy", Value("no")}, {"port", Value(9440)}}},
        {"is_proxy an object", {{"is_proxy", Value(Object{{"v", Value(true)}})}}}, // not merged
        {"is_proxy null", {{"is_proxy", Value()}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        agent_testing::set_instance_seed("00000000-0000-4000-8000-000000000042", c.options, logon);
        Table table;
        const int status = handler_->probe_instances(table);
        ASSERT_EQ(status, 0);
        ASSERT_EQ(table.size(), 1U);
        expect_proxy_record(*table.at("Nutanix_Proxy"));
        EXPECT_EQ(table.at("Nutanix_Proxy")->uuid, "00000000-0000-4000-8000-000000000042");
        EXPECT_EQ(table.at("Nutanix_Proxy")->logon_options, logon);
        agent_testing::clear_instance_seed();
    }
}

// A pointer that faults if followed: the operations must not read it.
template <class T>
const T* poison()
{
    return reinterpret_cast<const T*>(alignof(max_align_t)); // NOLINT(performance-no-int-to-ptr)
}

TEST_F(Plugin_Test, GetStateAnswersEnabledIntoTheCallersString)
{
    const char* const names[] = {
        nullptr, // the name is never read
        poison<char>(), "Nutanix_Proxy", "", "no such instance",
    };
    for (const char* name : names) {
        SCOPED_TRACE(name == nullptr ? "null" : name == poison<char>() ? "poison" : name);
        std::string state = "previous text, much longer than the answer itself";
        std::string& answer = handler_->get_state(name, state);
        EXPECT_EQ(&answer, &state);
        EXPECT_EQ(state, "enabled");
    }
}

TEST_F(Plugin_Test, LogonAnswersZeroWithoutReadingItsArguments)
{
    const json_spirit::Object options{{"user", json_spirit::Value("admin")}};
    EXPECT_EQ(handler_->logon(nullptr, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(handler_->logon("Nutanix_Proxy", "admin", "secret", &options), 0);
    EXPECT_EQ(handler_->logon(poison<char>(), poison<char>(), poison<char>(),
                              poison<json_spirit::Object>()),
              0);
}

TEST_F(Plugin_Test, OtherOperationsAreTheBasesOwn)
{
    const auto before = agent_testing::base_calls();
    char program[] = "agent";
    char* argv[] = {program, nullptr};
    EXPECT_EQ(handler_->init(1, argv), 0);
    json_spirit::Object options{{"is_proxy", json_spirit::Value(false)}};
    EXPECT_EQ(handler_->update_options("Nutanix_Proxy", "u", "p", options), 0);
    EXPECT_EQ(options.at("is_proxy"), json_spirit::Value(false));
    EXPECT_EQ(handler_->logoff("Nutanix_Proxy"), 0);
    // The base's get_states asks the handler's get_state for each entry.
    std::map<std::string, std::string> states{{"Nutanix_Proxy", ""}, {"other", "stale"}};
    EXPECT_EQ(handler_->get_states(states), 0);
    EXPECT_EQ(states, (std::map<std::string, std::string>{{"Nutanix_Proxy", "enabled"},
                                                          {"other", "enabled"}}));
    EXPECT_EQ(handler_->fini(), 0);

    // Each call reached the base's own code, and the three the handler
    // answers itself never did.
    Table table;
    std::string state;
    ASSERT_EQ(handler_->probe_instances(table), 0);
    handler_->get_state(nullptr, state);
    ASSERT_EQ(handler_->logon(nullptr, nullptr, nullptr, nullptr), 0);
    const auto after = agent_testing::base_calls();
    EXPECT_EQ(after.init - before.init, 1);
    EXPECT_EQ(after.fini - before.fini, 1);
    EXPECT_EQ(after.get_states - before.get_states, 1);
    EXPECT_EQ(after.logoff - before.logoff, 1);
    EXPECT_EQ(after.update_options - before.update_options, 1);
    EXPECT_EQ(after.probe_instances - before.probe_instances, 0);
    EXPECT_EQ(after.get_state - before.get_state, 0);
    EXPECT_EQ(after.logon - before.logon, 0);
}

TEST(Plugin_Factory, NullGobblerStillGivesAWorkingHandler)
{
    const Plugin_Library library(PLUGIN_PATH);
    Instance_Handler* handler = library.factory()(nullptr);
    ASSERT_NE(handler, nullptr);
    std::string state;
    EXPECT_EQ(handler->get_state(nullptr, state), "enabled");

    Instance_Handler_Exterminator gobbler = nullptr;
    Instance_Handler* other = library.factory()(&gobbler);
    ASSERT_NE(gobbler, nullptr);
    gobbler(other);
    gobbler(handler);
}

TEST(Plugin_Factory, TwoCallsGiveDistinctHandlersWithTheSameAnswers)
{
    const Plugin_Library library(PLUGIN_PATH);
    const Handler first(library.factory());
    const Handler second(library.factory());
    ASSERT_NE(first.get(), second.get());
    EXPECT_EQ(first.exterminator(), second.exterminator());

    Table a;
    Table b;
    ASSERT_EQ(first->probe_instances(a), 0);
    ASSERT_EQ(second->probe_instances(b), 0);
    ASSERT_EQ(a.size(), 1U);
    ASSERT_EQ(b.size(), 1U);
    EXPECT_NE(a.at("Nutanix_Proxy"), b.at("Nutanix_Proxy"));
    EXPECT_EQ(a.at("Nutanix_Proxy")->options, b.at("Nutanix_Proxy")->options);
}

TEST(Plugin_Factory, SuccessLeavesErrnoAlone)
{
    const Plugin_Library library(PLUGIN_PATH);
    errno = EDOM;
    const Handler handler(library.factory());
    EXPECT_NE(handler.get(), nullptr);
    EXPECT_EQ(errno, EDOM);
}

} // namespace
