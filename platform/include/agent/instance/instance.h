// instance.h - the agent's record of one instance of an instance type.
#ifndef AGENT_INSTANCE_INSTANCE_H
#define AGENT_INSTANCE_INSTANCE_H

#include <string>
#include <unordered_map>

#include "json_spirit/json_spirit_value.h"

/// One instance as a handler reports it. All members are public; the record
/// has no virtual operations and is shared between the agent and its handlers.
class Instance {
public:
    using options_type = json_spirit::Object;
    using logon_type = std::unordered_map<std::string, json_spirit::Object>;

    std::string type;         ///< the instance type, e.g. the handler's type name
    std::string name;         ///< the instance name, also its key in the instances table
    std::string uuid;         ///< an identifier of the instance
    options_type options;     ///< option name to JSON value
    logon_type logon_options; ///< logon key to a JSON object

    /// An empty record: empty strings, no options, no logon options.
    Instance();
    ~Instance();
    Instance(const Instance& other);
    Instance(Instance&& other) noexcept;
    Instance& operator=(const Instance& other) = default;
    Instance& operator=(Instance&& other) noexcept = default;

    /// Replaces the record with the one `object` describes (see dump()).
    /// Throws std::invalid_argument naming the field when one is missing or of
    /// the wrong kind; the record is then left as it was.
    void load(const json_spirit::Object& object);

    /// Writes the record into `object` as {"type": string, "name": string,
    /// "uuid": string, "options": object, "logon_options": object of objects},
    /// replacing those five keys and leaving any others.
    void dump(json_spirit::Object& object) const;
};

#endif // AGENT_INSTANCE_INSTANCE_H
