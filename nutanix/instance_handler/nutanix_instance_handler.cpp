// nutanix_instance_handler.cpp - the agent's instance handler for the type "nutanix".
//
// The handler gives fixed answers: probing yields the single proxy instance
// "Nutanix_Proxy" with the option "is_proxy" set to true, every state is
// "enabled" and every logon succeeds. All other operations are the base's.
//
// The library exports one symbol, the factory; the build hides everything
// else. It keeps no state, starts no threads and has no initialisers, and it
// stays mapped after dlclose, because the records it hands out carry
// shared_ptr control blocks whose code lives here and may outlive every
// handler.
#include <cerrno>
#include <memory>
#include <new>
#include <string>

#include "agent/instance/instance.h"
#include "agent/instance/instance_handler.h"
#include "json_spirit/json_spirit_value.h"

namespace {

constexpr const char* instance_type = "nutanix";
constexpr const char* proxy_instance_name = "Nutanix_Proxy";
constexpr const char* proxy_option_key = "is_proxy";
constexpr const char* state_answer = "enabled";

class Nutanix_Instance_Handler : public Instance_Handler {
public:
    Nutanix_Instance_Handler() : Instance_Handler(instance_type) {}

    /// Adds or replaces the "Nutanix_Proxy" entry of `instances` with a new
    /// record, and returns 0. On an exception the table is as it was.
    int probe_instances(instances_type& instances) override
    {
        auto record = std::make_shared<Instance>();
        record->name = proxy_instance_name;
        record->type = instance_type;
        record->options[proxy_option_key] = json_spirit::Value(true);
        // The table is touched only now that the record is complete.
        instances[proxy_instance_name] = std::move(record);
        return 0;
    }

    /// Every instance is enabled. The assignment returns `state` itself, which
    /// lets the compiler make it a tail call.
    std::string& get_state(const char* /*name*/, std::string& state) override
    {
        return state = state_answer;
    }

    /// Every logon succeeds.
    int logon(const char* /*name*/, const char* /*user*/, const char* /*password*/,
              const json_spirit::Object* /*options*/) override
    {
        return 0;
    }
};

} // namespace

extern "C" {

/// Destroys a handler made by _make_Nutanix_Instance_Handler; null is ignored.
void _gobble_Nutanix_Instance_Handler(void* p)
{
    delete static_cast<Instance_Handler*>(p);
}

/// Stores the exterminator in `*gobbler` (unless it is null) and returns a new
/// handler. Exhausted memory gives null with errno ENOMEM; an exception from
/// the base constructor propagates after the storage is released.
///
/// The build hides every symbol and its export map names this one; the
/// attribute is what lets the map see it.
[[gnu::visibility("default")]] Instance_Handler*
_make_Nutanix_Instance_Handler(Instance_Handler_Exterminator* gobbler)
{
    if (gobbler != nullptr) {
        *gobbler = &_gobble_Nutanix_Instance_Handler;
    }
    // The nothrow new-expression releases the storage with the matching
    // nothrow delete should the constructor throw.
    Instance_Handler* handler = new (std::nothrow) Nutanix_Instance_Handler();
    if (handler == nullptr) {
        errno = ENOMEM;
    }
    return handler;
}

} // extern "C"
