// baseline_handler.h - the cheapest correct code for the plug-in's work,
// compiled into the measuring program itself, as the agent would have it.
#ifndef BENCH_BASELINE_HANDLER_H
#define BENCH_BASELINE_HANDLER_H

#include <cerrno>
#include <memory>
#include <new>
#include <string>
#include <utility>

#include "agent/instance/instance.h"
#include "agent/instance/instance_handler.h"
#include "json_spirit/json_spirit_value.h"

namespace baseline {

/// The probe's four steps, written directly.
inline int probe(Instance_Handler::instances_type& instances)
{
    auto record = std::make_shared<Instance>();
    record->name = "Nutanix_Proxy";
    record->type = "nutanix";
    record->options["is_proxy"] = json_spirit::Value(true);
    instances["Nutanix_Proxy"] = std::move(record);
    return 0;
}

/// A handler defined in the measuring program, with the plug-in's answers.
class Handler : public Instance_Handler {
public:
    Handler() : Instance_Handler("nutanix") {}
    int probe_instances(instances_type& instances) override { return probe(instances); }
    std::string& get_state(const char* /*name*/, std::string& state) override
    {
        return state = "enabled";
    }
    int logon(const char* /*name*/, const char* /*user*/, const char* /*password*/,
              const json_spirit::Object* /*options*/) override
    {
        return 0;
    }
};

/// The exterminator's work, written directly.
inline void gobble_handler(void* p)
{
    delete static_cast<Instance_Handler*>(p);
}

/// The factory's work, written directly: the exterminator handed back first,
/// a nothrow allocation, ENOMEM when it fails.
inline Instance_Handler* make_handler(Instance_Handler_Exterminator* gobbler)
{
    if (gobbler != nullptr) {
        *gobbler = &gobble_handler;
    }
    Instance_Handler* handler = new (std::nothrow) Handler();
    if (handler == nullptr) {
        errno = ENOMEM;
    }
    return handler;
}

} // namespace baseline

#endif // BENCH_BASELINE_HANDLER_H
