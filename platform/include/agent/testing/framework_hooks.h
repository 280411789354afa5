// framework_hooks.h - test controls of the stand-in agent framework.
//
// The stand-in counts the records and handler bases it builds and destroys
// and the calls that reach the base's own operations, and lets a test make
// the next handler construction throw or give new records chosen fields. Not
// for concurrent use while a setting changes.
#ifndef AGENT_TESTING_FRAMEWORK_HOOKS_H
#define AGENT_TESTING_FRAMEWORK_HOOKS_H

#include <string>

#include "agent/instance/instance.h"

namespace agent_testing {

struct Framework_Counters {
    long handlers_constructed;
    long handlers_destroyed;
    long instances_constructed;
    long instances_destroyed;

    long live_handlers() const noexcept { return handlers_constructed - handlers_destroyed; }
    long live_instances() const noexcept { return instances_constructed - instances_destroyed; }
};

/// What the framework has built and destroyed so far in this process.
Framework_Counters framework_counters() noexcept;

/// Calls that reached Instance_Handler's own operations so far.
struct Base_Calls {
    long init;
    long fini;
    long probe_instances;
    long get_state;
    long get_states;
    long logon;
    long logoff;
    long update_options;
};
Base_Calls base_calls() noexcept;

/// Makes the next Instance_Handler constructor throw std::runtime_error with
/// the text "handler construction refused".
void fail_next_handler_construction() noexcept;

/// Makes every later Instance() start with these fields instead of empty ones.
void set_instance_seed(std::string uuid, Instance::options_type options,
                       Instance::logon_type logon_options);
/// Back to empty records.
void clear_instance_seed() noexcept;

} // namespace agent_testing

#endif // AGENT_TESTING_FRAMEWORK_HOOKS_H
