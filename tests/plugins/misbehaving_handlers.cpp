// Handler plug-ins that fail on purpose, for handler-inspect's error paths.
#include <cerrno>
#include <stdexcept>
#include <string>

#include "agent/instance/instance_handler.h"

namespace {

class Throwing_Handler : public Instance_Handler {
public:
    Throwing_Handler() : Instance_Handler("throwing") {}
    int probe_instances(instances_type& /*instances*/) override
    {
        throw std::runtime_error("probe refused on purpose");
    }
};

} // namespace

extern "C" {

void _gobble_Throwing_Handler(void* p)
{
    delete static_cast<Instance_Handler*>(p);
}

Instance_Handler* _make_Throwing_Handler(Instance_Handler_Exterminator* gobbler)
{
    *gobbler = &_gobble_Throwing_Handler;
    return new Throwing_Handler();
}

/// Fails as an exhausted factory does.
Instance_Handler* _make_Exhausted_Handler(Instance_Handler_Exterminator* gobbler)
{
    *gobbler = &_gobble_Throwing_Handler;
    errno = ENOMEM;
    return nullptr;
}

/// Throws from the factory itself.
Instance_Handler* _make_Refusing_Handler(Instance_Handler_Exterminator* /*gobbler*/)
{
    throw std::logic_error("factory refused on purpose");
}

} // extern "C"
