// instance_handler.h - the base class of the agent's instance handlers.
//
// A handler serves one instance type. The agent loads it from a plug-in
// library: it resolves the library's factory, `_make_<Class>`, calls it with
// the address of an Instance_Handler_Exterminator, and later destroys the
// handler by passing it to the exterminator the factory stored there.
#ifndef AGENT_INSTANCE_INSTANCE_HANDLER_H
#define AGENT_INSTANCE_INSTANCE_HANDLER_H

#include <map>
#include <memory>
#include <string>

#include "agent/instance/instance.h"
#include "json_spirit/json_spirit_value.h"

class Instance_Handler {
public:
    /// The instances table: instance name to shared record. The caller owns it.
    using instances_type = std::map<std::string, std::shared_ptr<Instance>>;

    /// `type` names the instance type served. The base keeps the pointer, not
    /// a copy, so the string must outlive the handler.
    explicit Instance_Handler(const char* type);
    virtual ~Instance_Handler();

    Instance_Handler(const Instance_Handler&) = delete;
    Instance_Handler& operator=(const Instance_Handler&) = delete;

    // The operations below stand in the order of the virtual table that the
    // agent calls through; plug-ins depend on it, so it never changes.

    /// Prepares the handler with the agent's arguments; returns 0.
    virtual int init(int argc, char** argv);
    /// Undoes init(); returns 0.
    virtual int fini();
    /// Puts the handler's instances into `instances`; the base adds none and returns 0.
    virtual int probe_instances(instances_type& instances);
    /// Writes the state of instance `name` into `state` and returns `state`;
    /// the base answers "unknown".
    virtual std::string& get_state(const char* name, std::string& state);
    /// Fills in the state of every instance named in `states`, by get_state(); returns 0.
    virtual int get_states(std::map<std::string, std::string>& states);
    /// Logs on to instance `name`; returns 0 on success. The base refuses with -1.
    virtual int logon(const char* name, const char* user, const char* password,
                      const json_spirit::Object* options);
    /// Logs off instance `name`; returns 0.
    virtual int logoff(const char* name);
    /// Accepts new options for instance `name`; the base ignores them and returns 0.
    virtual int update_options(const char* name, const char* user, const char* password,
                               json_spirit::Object& options);

    /// The type name given to the constructor, the very pointer ("" for null).
    const char* type_name() const noexcept { return type_; }

private:
    const char* type_;
};

/// Destroys an object that a plug-in's factory made, inside that plug-in.
using Instance_Handler_Exterminator = void (*)(void*);

#endif // AGENT_INSTANCE_INSTANCE_HANDLER_H
