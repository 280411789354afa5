#include "agent/testing/framework_hooks.h"

#include <utility>

#include "framework_state.h"

namespace agent_testing {

namespace detail {

Framework_State& framework_state() noexcept
{
    static Framework_State state;
    return state;
}

} // namespace detail

Framework_Counters framework_counters() noexcept
{
    const auto& state = detail::framework_state();
    return {state.handlers_constructed.load(), state.handlers_destroyed.load(),
            state.instances_constructed.load(), state.instances_destroyed.load()};
}

Base_Calls base_calls() noexcept
{
    const auto& calls = detail::framework_state().base_calls;
    return {calls.init.load(),      calls.fini.load(),          calls.probe_instances.load(),
            calls.get_state.load(), calls.get_states.load(),    calls.logon.load(),
            calls.logoff.load(),    calls.update_options.load()};
}

void fail_next_handler_construction() noexcept
{
    detail::framework_state().fail_next_handler = true;
}

void set_instance_seed(std::string uuid, Instance::options_type options,
                       Instance::logon_type logon_options)
{
    auto& state = detail::framework_state();
    state.seed_uuid = std::move(uuid);
    state.seed_options = std::move(options);
    state.seed_logon_options = std::move(logon_options);
    state.seeded = true;
}

void clear_instance_seed() noexcept
{
    auto& state = detail::framework_state();
    state.seeded = false;
    state.seed_uuid.clear();
    state.seed_options.clear();
    state.seed_logon_options.clear();
}

} // namespace agent_testing
