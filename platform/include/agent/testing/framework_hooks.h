// framework_hooks.h - test controls of the stand-in agent framework.
//
// The stand-in counts the records and handler bases it builds and destroys,
// and lets a test make the next handler construction throw or give new
// records a chosen uuid and logon options. Not for concurrent use while a
// setting changes.
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

/// Makes the next Instance_Handler constructor throw std::runtime_error with
/// the text "handler construction refused".
void fail_next_handler_construction() noexcept;

/// Makes every later Instance() start with this uuid and these logon options.
void set_instance_seed(std::string uuid, Instance::logon_type logon_options);
/// Back to empty records.
void clear_instance_seed() noexcept;

} // namespace agent_testing

#endif // AGENT_TESTING_FRAMEWORK_HOOKS_H
