#include "agent/instance/instance_handler.h"

#include <stdexcept>

#include "framework_state.h"

Instance_Handler::Instance_Handler(const char* type) : type_(type == nullptr ? "" : type)
{
    auto& state = agent_testing::detail::framework_state();
    if (state.fail_next_handler.exchange(false)) {
        throw std::runtime_error("handler construction refused");
    }
    ++state.handlers_constructed;
}

Instance_Handler::~Instance_Handler()
{
    ++agent_testing::detail::framework_state().handlers_destroyed;
}

// Each of the base's own operations counts its calls, so that a test sees
// which of them a handler left to the base.
namespace {
auto& calls() noexcept
{
    return agent_testing::detail::framework_state().base_calls;
}
} // namespace

int Instance_Handler::init(int /*argc*/, char** /*argv*/)
{
    ++calls().init;
    return 0;
}

int Instance_Handler::fini()
{
    ++calls().fini;
    return 0;
}

int Instance_Handler::probe_instances(instances_type& /*instances*/)
{
    ++calls().probe_instances;
    return 0;
}

std::string& Instance_Handler::get_state(const char* /*name*/, std::string& state)
{
    ++calls().get_state;
    return state = "unknown";
}

int Instance_Handler::get_states(std::map<std::string, std::string>& states)
{
    ++calls().get_states;
    for (auto& [name, state] : states) {
        get_state(name.c_str(), state);
    }
    return 0;
}

int Instance_Handler::logon(const char* /*name*/, const char* /*user*/, const char* /*password*/,
                            const json_spirit::Object* /*options*/)
{
    ++calls().logon;
    return -1;
}

int Instance_Handler::logoff(const char* /*name*/)
{
    ++calls().logoff;
    return 0;
}

int Instance_Handler::update_options(const char* /*name*/, const char* /*user*/,
                                     const char* /*password*/, json_spirit::Object& /*options*/)
{
    ++calls().update_options;
    return 0;
}
