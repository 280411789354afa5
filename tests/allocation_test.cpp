// What the plug-in allocates and releases, seen through a replaced operator
// new: the counts, the forms of new and delete it uses, and its behaviour
// when each allocation fails in turn or the framework's base constructor
// throws. A sanitizer build builds this host without the sanitizer, since the
// sanitizer's allocator would replace the hook.
#include <cerrno>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>

#include <gtest/gtest.h>

#include "agent/instance/instance_handler.h"
#include "agent/testing/framework_hooks.h"
#include "alloc_hooks.h"
#include "json_spirit/json_spirit_value.h"
#include "support/plugin_library.h"

namespace {

using test_support::Handler;
using test_support::Plugin_Library;
using Table = Instance_Handler::instances_type;

class Allocation_Test : public ::testing::Test {
protected:
    void TearDown() override { alloc_hooks::disarm(); }

    Plugin_Library library_{PLUGIN_PATH};
    Handler handler_{library_.factory()};
};

TEST_F(Allocation_Test, ProbeMakesTheRecordAndItsCountInOneAllocation)
{
    Table table{{"Nutanix_Proxy", std::make_shared<Instance>()}};
    const alloc_hooks::Scope replace;
    ASSERT_EQ(handler_->probe_instances(table), 0);
    // The joint record-and-count block and the option's map node.
    EXPECT_EQ(replace.since().allocations(), 2);

    Table empty;
    const alloc_hooks::Scope insert;
    ASSERT_EQ(handler_->probe_instances(empty), 0);
    EXPECT_EQ(insert.since().allocations(), 3); // plus the table's node
}

TEST_F(Allocation_Test, GetStateAndLogonAllocateNothing)
{
    std::string state;
    state.reserve(32);
    const alloc_hooks::Scope scope;
    handler_->get_state("Nutanix_Proxy", state);
    handler_->logon("Nutanix_Proxy", nullptr, nullptr, nullptr);
    EXPECT_EQ(scope.since().allocations(), 0);
}

TEST_F(Allocation_Test, ProbeSurvivesEachAllocationFailingInTurn)
{
    struct Case {
        const char* what;
        bool holds_proxy;
        long allocations; // what a successful probe needs
    };
    const Case cases[] = {
        {"insert into a table without the proxy", false, 3},
        {"replace the proxy's record", true, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto neighbour = std::make_shared<Instance>();
        auto old_proxy = std::make_shared<Instance>();
        Table table{{"Alpha", neighbour}};
        if (c.holds_proxy) {
            table["Nutanix_Proxy"] = old_proxy;
        }
        const Table original = table;

        long failed = 0;
        for (long index = 0;; ++index) {
            SCOPED_TRACE("failing allocation " + std::to_string(index));
            const auto framework_before = agent_testing::framework_counters();
            const alloc_hooks::Scope scope;
            alloc_hooks::fail_allocation(index);
            bool threw = false;
            try {
                handler_->probe_instances(table);
            } catch (const std::bad_alloc&) {
                threw = true;
            }
            alloc_hooks::disarm();
            if (!threw) {
                EXPECT_EQ(scope.since().failures, 0) << "a failed allocation went unreported";
                break;
            }
            ++failed;
            EXPECT_EQ(scope.since().failures, 1);
            EXPECT_EQ(table, original) << "the table changed under a failed probe";
            EXPECT_EQ(scope.since().live(), 0) << "storage leaked";
            EXPECT_EQ(agent_testing::framework_counters().live_instances(),
                      framework_before.live_instances())
                << "a half-built record survived";
        }
        // A hook that stopped binding would make every probe succeed.
        EXPECT_EQ(failed, c.allocations) << "failures were not injected into the plug-in";
        ASSERT_EQ(table.size(), original.size() + (c.holds_proxy ? 0U : 1U));
        EXPECT_NE(table.at("Nutanix_Proxy"), old_proxy);
        EXPECT_EQ(table.at("Alpha"), neighbour);
    }
}

TEST(Factory_Fault, ExhaustedMemoryGivesNullAndEnomemAndStillTheExterminator)
{
    const Plugin_Library library(PLUGIN_PATH);
    const auto factory = library.factory();
    Instance_Handler_Exterminator gobbler = nullptr;
    errno = 0;
    const alloc_hooks::Scope scope;
    alloc_hooks::fail_allocation(0);
    Instance_Handler* handler = factory(&gobbler);
    alloc_hooks::disarm();

    ASSERT_EQ(scope.since().failures, 1) << "the failure was not injected";
    EXPECT_EQ(handler, nullptr);
    EXPECT_EQ(errno, ENOMEM);
    EXPECT_NE(gobbler, nullptr);
    EXPECT_EQ(scope.since().live(), 0);

    errno = 0;
    alloc_hooks::fail_allocation(0);
    EXPECT_EQ(factory(nullptr), nullptr); // a null gobbler on the same path
    alloc_hooks::disarm();
    EXPECT_EQ(errno, ENOMEM);
}

TEST(Factory_Fault, ThrowingBaseConstructorReleasesTheStorageAndLeavesErrnoAlone)
{
    const Plugin_Library library(PLUGIN_PATH);
    const auto factory = library.factory();
    Instance_Handler_Exterminator gobbler = nullptr;
    const auto framework_before = agent_testing::framework_counters();
    const alloc_hooks::Scope scope;
    errno = EDOM;
    agent_testing::fail_next_handler_construction();

    std::string message = "no exception reached the caller";
    try {
        factory(&gobbler);
    } catch (const std::runtime_error& error) {
        message = error.what();
    }
    EXPECT_EQ(message, "handler construction refused");

    EXPECT_EQ(errno, EDOM);
    EXPECT_NE(gobbler, nullptr);
    EXPECT_EQ(scope.since().nothrow_news, 1);
    EXPECT_EQ(scope.since().nothrow_deletes, 1) << "storage not released the nothrow way";
    EXPECT_EQ(alloc_hooks::last_nothrow_delete(), alloc_hooks::last_nothrow_new());
    EXPECT_EQ(agent_testing::framework_counters().live_handlers(),
              framework_before.live_handlers());

    const Handler after(factory); // the next construction succeeds again
    EXPECT_NE(after.get(), nullptr);
}

TEST(Exterminator_Release, IgnoresNull)
{
    const Plugin_Library library(PLUGIN_PATH);
    const Handler handler(library.factory());
    const auto before = agent_testing::framework_counters();
    const alloc_hooks::Scope scope;
    errno = EDOM;
    handler.exterminator()(nullptr);
    EXPECT_EQ(errno, EDOM);
    // Not even a release of null: the exterminator returns at once.
    EXPECT_EQ(scope.since().deletes + scope.since().nothrow_deletes + scope.since().null_deletes,
              0);
    EXPECT_EQ(agent_testing::framework_counters().handlers_destroyed, before.handlers_destroyed);
}

TEST(Exterminator_Release, RunsTheDestructorsAndReleasesWithOrdinaryDelete)
{
    const Plugin_Library library(PLUGIN_PATH);
    Instance_Handler_Exterminator gobbler = nullptr;
    Instance_Handler* handler = library.factory()(&gobbler);
    ASSERT_NE(handler, nullptr);
    EXPECT_EQ(alloc_hooks::last_nothrow_new(), handler) << "the factory must allocate nothrow";
    // The handler has no data of its own: exactly the base's storage.
    EXPECT_EQ(alloc_hooks::last_nothrow_new_size(), sizeof(Instance_Handler));

    const auto before = agent_testing::framework_counters();
    const alloc_hooks::Scope scope;
    errno = EDOM;
    gobbler(handler);

    EXPECT_EQ(errno, EDOM) << "destroying a handler changed errno";
    EXPECT_EQ(agent_testing::framework_counters().handlers_destroyed,
              before.handlers_destroyed + 1);
    EXPECT_EQ(scope.since().deletes, 1);
    EXPECT_EQ(scope.since().nothrow_deletes, 0);
    EXPECT_EQ(alloc_hooks::last_delete(), handler);
}

TEST(Json_Value_Allocation, ABooleanAllocatesNothing)
{
    const alloc_hooks::Scope scope;
    json_spirit::Value value(true);
    value = json_spirit::Value(false);
    EXPECT_EQ(scope.since().allocations(), 0);
}

} // namespace
