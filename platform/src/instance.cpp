#include "agent/instance/instance.h"

#include <stdexcept>
#include <utility>

#include "framework_state.h"

namespace {

using json_spirit::Object;
using json_spirit::Value;

const Value& require(const Object& object, const char* key, json_spirit::Value_type kind)
{
    const auto it = object.find(key);
    if (it == object.end()) {
        throw std::invalid_argument(std::string("Instance::load: missing field \"") + key + '"');
    }
    if (it->second.type() != kind) {
        throw std::invalid_argument(std::string("Instance::load: field \"") + key + "\" is " +
                                    json_spirit::value_type_name(it->second.type()) +
                                    ", expected " + json_spirit::value_type_name(kind));
    }
    return it->second;
}

} // namespace

Instance::Instance()
{
    auto& state = agent_testing::detail::framework_state();
    if (state.seeded) {
        uuid = state.seed_uuid;
        options = state.seed_options;
        logon_options = state.seed_logon_options;
    }
    ++state.instances_constructed;
}

Instance::~Instance()
{
    ++agent_testing::detail::framework_state().instances_destroyed;
}

Instance::Instance(const Instance& other)
    : type(other.type), name(other.name), uuid(other.uuid), options(other.options),
      logon_options(other.logon_options)
{
    ++agent_testing::detail::framework_state().instances_constructed;
}

Instance::Instance(Instance&& other) noexcept
    : type(std::move(other.type)), name(std::move(other.name)), uuid(std::move(other.uuid)),
      options(std::move(other.options)), logon_options(std::move(other.logon_options))
{
    ++agent_testing::detail::framework_state().instances_constructed;
}

void Instance::load(const Object& object)
{
    std::string new_type = require(object, "type", json_spirit::str_type).get_str();
    std::string new_name = require(object, "name", json_spirit::str_type).get_str();
    std::string new_uuid = require(object, "uuid", json_spirit::str_type).get_str();
    options_type new_options = require(object, "options", json_spirit::obj_type).get_obj();
    logon_type new_logon_options;
    for (const auto& [key, value] :
         require(object, "logon_options", json_spirit::obj_type).get_obj()) {
        if (value.type() != json_spirit::obj_type) {
            throw std::invalid_argument("Instance::load: logon option \"" + key + "\" is " +
                                        json_spirit::value_type_name(value.type()) +
                                        ", expected object");
        }
        new_logon_options.emplace(key, value.get_obj());
    }

    // Nothing below throws, so a failure above leaves the record untouched.
    type = std::move(new_type);
    name = std::move(new_name);
    uuid = std::move(new_uuid);
    options = std::move(new_options);
    logon_options = std::move(new_logon_options);
}

void Instance::dump(Object& object) const
{
    Object logon;
    for (const auto& [key, value] : logon_options) {
        logon.emplace(key, value);
    }
    object["type"] = Value(type);
    object["name"] = Value(name);
    object["uuid"] = Value(uuid);
    object["options"] = Value(options);
    object["logon_options"] = Value(std::move(logon));
}
