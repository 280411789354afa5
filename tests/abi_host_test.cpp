// The agent's side of the interface, written out here from its published
// form rather than taken from the stand-in's headers: the slot order of
// Instance_Handler's virtual table, the fields of Instance in their order,
// and the numbers of the JSON kinds. This host is itself the framework that
// the plug-in binds to (the executable exports these definitions), so a
// mistake in the stand-in's headers, which the plug-in bakes in when it is
// compiled, shows up here as a call in the wrong slot or a field in the
// wrong place.
#include <dlfcn.h>

#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>

#include <gtest/gtest.h>

// The JSON value only; its kinds are checked by their published numbers.
#include "json_spirit/json_spirit_value.h"

namespace published_kind {
constexpr int object = 0;
constexpr int boolean = 4;
} // namespace published_kind

class Instance {
public:
    using options_type = json_spirit::Object;
    using logon_type = std::unordered_map<std::string, json_spirit::Object>;

    std::string type;
    std::string name;
    std::string uuid;
    options_type options;
    logon_type logon_options;

    Instance();
    ~Instance();
    Instance(const Instance&) = delete;
    Instance& operator=(const Instance&) = delete;
};

class Instance_Handler {
public:
    using instances_type = std::map<std::string, std::shared_ptr<Instance>>;

    explicit Instance_Handler(const char* type);
    virtual ~Instance_Handler();
    Instance_Handler(const Instance_Handler&) = delete;
    Instance_Handler& operator=(const Instance_Handler&) = delete;

    virtual int init(int argc, char** argv);
    virtual int fini();
    virtual int probe_instances(instances_type& instances);
    virtual std::string& get_state(const char* name, std::string& state);
    virtual int get_states(std::map<std::string, std::string>& states);
    virtual int logon(const char* name, const char* user, const char* password,
                      const json_spirit::Object* options);
    virtual int logoff(const char* name);
    virtual int update_options(const char* name, const char* user, const char* password,
                               json_spirit::Object& options);

    const char* type_name;
};

using Instance_Handler_Exterminator = void (*)(void*);

namespace {

// What this host's framework was asked to do, by operation name.
std::map<std::string, int>& trace()
{
    static std::map<std::string, int> calls;
    return calls;
}

json_spirit::Object seeded_options()
{
    return {{"is_proxy", json_spirit::Value("host's own")}, {"port", json_spirit::Value(9440)}};
}

} // namespace

// A record that starts with every field filled, as an agent's may.
Instance::Instance()
    : type("host's type"), name("host's name"), uuid("uuid from the host"),
      options(seeded_options())
{
    logon_options["prism"]["user"] = json_spirit::Value("admin");
    ++trace()["Instance()"];
}

Instance::~Instance()
{
    ++trace()["~Instance()"];
}

Instance_Handler::Instance_Handler(const char* type) : type_name(type)
{
    ++trace()["Instance_Handler()"];
}

Instance_Handler::~Instance_Handler()
{
    ++trace()["~Instance_Handler()"];
}

int Instance_Handler::init(int /*argc*/, char** /*argv*/)
{
    ++trace()["init"];
    return 0;
}
int Instance_Handler::fini()
{
    ++trace()["fini"];
    return 0;
}
int Instance_Handler::probe_instances(instances_type& /*instances*/)
{
    ++trace()["probe_instances"];
    return 0;
}
std::string& Instance_Handler::get_state(const char* /*name*/, std::string& state)
{
    ++trace()["get_state"];
    return state = "base";
}
int Instance_Handler::get_states(std::map<std::string, std::string>& /*states*/)
{
    ++trace()["get_states"];
    return 0;
}
int Instance_Handler::logon(const char* /*name*/, const char* /*user*/, const char* /*password*/,
                            const json_spirit::Object* /*options*/)
{
    ++trace()["logon"];
    return -1;
}
int Instance_Handler::logoff(const char* /*name*/)
{
    ++trace()["logoff"];
    return 0;
}
int Instance_Handler::update_options(const char* /*name*/, const char* /*user*/,
                                     const char* /*password*/, json_spirit::Object& /*options*/)
{
    ++trace()["update_options"];
    return 0;
}

namespace {

using Factory = Instance_Handler* (*)(Instance_Handler_Exterminator*);

std::string object_holding(const void* address)
{
    Dl_info info{};
    return dladdr(address, &info) != 0 && info.dli_fname != nullptr ? info.dli_fname : "";
}

// The entries of the virtual table that `object` points to.
const void* const* slots(const Instance_Handler* object)
{
    // The virtual table pointer is the object's first word (Itanium C++ ABI).
    return *reinterpret_cast<const void* const* const*>(object); // NOLINT
}

class Abi_Host : public ::testing::Test {
protected:
    void SetUp() override
    {
        library_ = dlopen(PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(library_, nullptr) << dlerror();
        auto* factory =
            reinterpret_cast<Factory>(dlsym(library_, "_make_Nutanix_Instance_Handler"));
        ASSERT_NE(factory, nullptr);
        handler_ = factory(&exterminator_);
        ASSERT_NE(handler_, nullptr);
        ASSERT_NE(exterminator_, nullptr);
    }
    void TearDown() override
    {
        if (handler_ != nullptr) {
            exterminator_(handler_);
        }
        if (library_ != nullptr) {
            dlclose(library_);
        }
    }

    void* library_ = nullptr;
    Instance_Handler_Exterminator exterminator_ = nullptr;
    Instance_Handler* handler_ = nullptr;
};

TEST_F(Abi_Host, EachSlotHoldsTheHandlersOwnOperationOrTheBasesInheritedOne)
{
    const Instance_Handler base("base");
    const void* const* own = slots(handler_);
    const void* const* inherited = slots(&base);
    struct Slot {
        int index;
        bool overridden;
        const char* operation;
    };
    // Two destructor entries (complete, deleting), then the operations in
    // their published order.
    const Slot table[] = {
        {0, true, "destructor"},      {1, true, "deleting destructor"},
        {2, false, "init"},           {3, false, "fini"},
        {4, true, "probe_instances"}, {5, true, "get_state"},
        {6, false, "get_states"},     {7, true, "logon"},
        {8, false, "logoff"},         {9, false, "update_options"},
    };
    for (const auto& slot : table) {
        SCOPED_TRACE(slot.operation);
        if (slot.overridden) {
            EXPECT_EQ(object_holding(own[slot.index]), PLUGIN_PATH);
        } else {
            EXPECT_EQ(own[slot.index], inherited[slot.index]) << "not the base's own";
        }
    }
}

TEST_F(Abi_Host, CallsLandOnTheRightOperations)
{
    trace().clear();
    char program[] = "agent";
    char* argv[] = {program, nullptr};
    json_spirit::Object options;
    std::map<std::string, std::string> states{{"Nutanix_Proxy", ""}};
    std::string state;
    Instance_Handler::instances_type table;

    EXPECT_EQ(handler_->init(1, argv), 0);
    EXPECT_EQ(handler_->probe_instances(table), 0);
    EXPECT_EQ(&handler_->get_state(nullptr, state), &state);
    EXPECT_EQ(state, "enabled");
    EXPECT_EQ(handler_->get_states(states), 0);
    EXPECT_EQ(handler_->logon(nullptr, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(handler_->logoff(nullptr), 0);
    EXPECT_EQ(handler_->update_options(nullptr, nullptr, nullptr, options), 0);
    EXPECT_EQ(handler_->fini(), 0);
    table.clear();

    const std::map<std::string, int> expected{
        {"init", 1},           {"fini", 1},       {"get_states", 1},  {"logoff", 1},
        {"update_options", 1}, {"Instance()", 1}, {"~Instance()", 1},
    };
    EXPECT_EQ(trace(), expected);
}

TEST_F(Abi_Host, TheProbedRecordsFieldsStandWhereTheAgentReadsThem)
{
    Instance_Handler::instances_type table;
    ASSERT_EQ(handler_->probe_instances(table), 0);
    ASSERT_EQ(table.size(), 1U);
    const Instance& record = *table.at("Nutanix_Proxy");
    EXPECT_EQ(record.type, "nutanix");
    EXPECT_EQ(record.name, "Nutanix_Proxy");
    EXPECT_EQ(record.uuid, "uuid from the host");
    ASSERT_EQ(record.logon_options.size(), 1U);
    EXPECT_EQ(record.logon_options.at("prism").at("user").get_str(), "admin");
    ASSERT_EQ(record.options.size(), 2U);
    EXPECT_EQ(record.options.at("port").get_int(), 9440);
    const json_spirit::Value& is_proxy = record.options.at("is_proxy");
    ASSERT_EQ(static_cast<int>(is_proxy.type()), published_kind::boolean);
    EXPECT_TRUE(is_proxy.get_bool());
    EXPECT_EQ(static_cast<int>(json_spirit::Value(json_spirit::Object{}).type()),
              published_kind::object);
}

TEST_F(Abi_Host, TheBaseMayKeepTheTypeNamePointer)
{
    ASSERT_NE(handler_->type_name, nullptr);
    EXPECT_STREQ(handler_->type_name, "nutanix");
    EXPECT_EQ(object_holding(handler_->type_name), PLUGIN_PATH)
        << "not a constant of the library's own";
}

TEST_F(Abi_Host, TheExterminatorRunsTheBasesDestructor)
{
    trace().clear();
    exterminator_(handler_);
    handler_ = nullptr;
    EXPECT_EQ(trace(), (std::map<std::string, int>{{"~Instance_Handler()", 1}}));
}

} // namespace
