// Several agent threads on one handler at once, each with its own table and
// state string, and several factories at once: the handler keeps no mutable
// state, so every answer stays right (and ThreadSanitizer sees no race).
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "agent/instance/instance_handler.h"
#include "support/plugin_library.h"

namespace {

using test_support::Handler;
using test_support::Plugin_Library;

constexpr int thread_count = 4;
constexpr int rounds = 500;

TEST(Plugin_Concurrency, ThreadsShareOneHandlerWithTheirOwnTablesAndStrings)
{
    const Plugin_Library library(PLUGIN_PATH);
    const Handler handler(library.factory());
    std::atomic<int> wrong{0};
    std::atomic<bool> go{false};

    std::vector<std::thread> threads;
    threads.reserve(thread_count);
    for (int t = 0; t < thread_count; ++t) {
        threads.emplace_back([&] {
            while (!go) {
                std::this_thread::yield();
            }
            Instance_Handler::instances_type table;
            std::string state;
            for (int round = 0; round < rounds; ++round) {
                const bool right = handler->probe_instances(table) == 0 && table.size() == 1 &&
                                   table.at("Nutanix_Proxy")->name == "Nutanix_Proxy" &&
                                   table.at("Nutanix_Proxy")->options.at("is_proxy").get_bool() &&
                                   handler->get_state("Nutanix_Proxy", state) == "enabled" &&
                                   handler->logon("Nutanix_Proxy", nullptr, nullptr, nullptr) == 0;
                if (!right) {
                    ++wrong;
                }
            }
        });
    }
    go = true;
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(wrong, 0);
}

TEST(Plugin_Concurrency, FactoriesOnSeveralThreadsMakeIndependentHandlers)
{
    const Plugin_Library library(PLUGIN_PATH);
    const auto factory = library.factory();
    std::atomic<int> wrong{0};

    std::vector<std::thread> threads;
    threads.reserve(thread_count);
    for (int t = 0; t < thread_count; ++t) {
        threads.emplace_back([&] {
            for (int round = 0; round < rounds; ++round) {
                const Handler handler(factory);
                std::string state;
                if (handler.get() == nullptr || handler->get_state(nullptr, state) != "enabled") {
                    ++wrong;
                }
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(wrong, 0);
}

} // namespace
