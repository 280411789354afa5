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

int Instance_Handler::init(int /*argc*/, char** /*argv*/)
{
    return 0;
}

int Instance_Handler::fini()
{
    return 0;
}

int Instance_Handler::probe_instances(instances_type& /*instances*/)
{
    return 0;
}

std::string& Instance_Handler::get_state(const char* /*name*/, std::string& state)
{
    state = "unknown";
    return state;
}

int Instance_Handler::get_states(std::map<std::string, std::string>& states)
{
    for (auto& [name, state] : states) {
        get_state(name.c_str(), state);
    }
    return 0;
}

int Instance_Handler::logon(const char* /*name*/, const char* /*user*/, const char* /*password*/,
                            const json_spirit::Object* /*options*/)
{
    return -1;
}

int Instance_Handler::logoff(const char* /*name*/)
{
    return 0;
}

int Instance_Handler::update_options(const char* /*name*/, const char* /*user*/,
                                     const char* /*password*/, json_spirit::Object& /*options*/)
{
    return 0;
}
