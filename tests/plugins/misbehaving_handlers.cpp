// Handler plug-ins that misbehave on purpose, one factory per way, for
// handler-inspect's tests: its error paths, its isolation, and each of the
// --check rules, which _make_Proper_Handler passes and each _make_Breaks_*
// factory breaks alone.
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <limits>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <utility>

#include <unistd.h>

#include "agent/instance/instance.h"
#include "agent/instance/instance_handler.h"
#include "json_spirit/json_spirit_value.h"

namespace {

constexpr const char* fixture_type = "fixture";

/// A complete record of the fixture's type.
std::shared_ptr<Instance> make_record(const char* name = "Fixture")
{
    auto record = std::make_shared<Instance>();
    record->name = name;
    record->type = fixture_type;
    record->options["is_proxy"] = json_spirit::Value(true);
    return record;
}

/// A correct handler; the misbehaving ones change one operation.
class Proper_Handler : public Instance_Handler {
public:
    Proper_Handler() : Instance_Handler(fixture_type) {}
    int probe_instances(instances_type& instances) override
    {
        auto record = make_record();
        instances["Fixture"] = std::move(record);
        return 0;
    }
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

/// A handler whose probe does `Probe` instead.
template <int (*Probe)(Instance_Handler::instances_type&)>
class Probing_Handler : public Proper_Handler {
public:
    int probe_instances(instances_type& instances) override { return Probe(instances); }
};

int crash(Instance_Handler::instances_type& /*instances*/)
{
    std::raise(SIGSEGV);
    return 0;
}
int abort_process(Instance_Handler::instances_type& /*instances*/)
{
    std::abort();
}
int exit_process(Instance_Handler::instances_type& /*instances*/)
{
    std::exit(0); // looks like success to a careless host
}
int hang(Instance_Handler::instances_type& /*instances*/)
{
    for (;;) {
        pause();
    }
}
int chatter(Instance_Handler::instances_type& instances)
{
    std::printf("chatter on stdout {\"not\": \"json\"\n");
    std::fprintf(stderr, "chatter on stderr\n");
    for (int i = 0; i < 10000; ++i) {
        std::printf("line %d of a long chatter\n", i);
    }
    instances["Fixture"] = make_record();
    return 0;
}

/// An exception whose what() is null.
class Null_Message : public std::exception {
public:
    const char* what() const noexcept override { return nullptr; }
};
int throw_null_message(Instance_Handler::instances_type& /*instances*/)
{
    throw Null_Message();
}
int throw_lines(Instance_Handler::instances_type& /*instances*/)
{
    throw std::runtime_error("first line\nsecond line\x1b[31m");
}
int throw_refusal(Instance_Handler::instances_type& /*instances*/)
{
    throw std::runtime_error("probe refused on purpose");
}
int nest_deeply(Instance_Handler::instances_type& instances)
{
    auto record = make_record();
    json_spirit::Value value(true);
    for (int depth = 0; depth < 50000; ++depth) {
        json_spirit::Array array;
        array.push_back(std::move(value));
        value = json_spirit::Value(std::move(array));
    }
    record->options["deep"] = std::move(value);
    record->options["nan"] = json_spirit::Value(std::numeric_limits<double>::quiet_NaN());
    record->options["infinity"] = json_spirit::Value(-std::numeric_limits<double>::infinity());
    instances["Fixture"] = std::move(record);
    return 0;
}
int invalid_utf8(Instance_Handler::instances_type& instances)
{
    auto record = make_record("Fix\xffture\xc3");
    record->uuid = "\xed\xa0\x80 surrogate, \xc0\xaf overlong";
    record->options["bad \xfe key"] = json_spirit::Value(std::string("bad \x80 value"));
    instances[record->name] = record;
    return 0;
}

// One rule each.
int misnamed(Instance_Handler::instances_type& instances)
{
    instances["Fixture"] = make_record("Another name");
    return 0;
}
int clears_others(Instance_Handler::instances_type& instances)
{
    instances["Fixture"] = make_record();
    for (auto it = instances.begin(); it != instances.end();) {
        it = it->first == "Fixture" ? std::next(it) : instances.erase(it);
    }
    return 0;
}
int keeps_old(Instance_Handler::instances_type& instances)
{
    instances.emplace("Fixture", make_record());
    return 0;
}
int keeps_reference(Instance_Handler::instances_type& instances)
{
    static std::shared_ptr<Instance> last;
    auto record = make_record();
    instances["Fixture"] = record;
    last = std::move(record);
    return 0;
}
int touches_table_early(Instance_Handler::instances_type& instances)
{
    auto& entry = instances["Fixture"];
    entry = make_record();
    return 0;
}

class Appending_Handler : public Proper_Handler {
public:
    std::string& get_state(const char* /*name*/, std::string& state) override
    {
        return state += "enabled";
    }
};

template <class Handler>
void gobble(void* p)
{
    delete static_cast<Instance_Handler*>(p);
}

template <class Handler>
Instance_Handler* make(Instance_Handler_Exterminator* gobbler)
{
    if (gobbler != nullptr) {
        *gobbler = &gobble<Handler>;
    }
    Instance_Handler* handler = new (std::nothrow) Handler();
    if (handler == nullptr) {
        errno = ENOMEM;
    }
    return handler;
}

void gobble_null_unsafely(void* p)
{
    auto* handler = static_cast<Instance_Handler*>(p);
    handler->~Instance_Handler(); // no test for null
    ::operator delete(p);
}

} // namespace

/// Not a factory: exported only by a build without the export map.
[[gnu::visibility("default")]] int fixture_extra_symbol()
{
    return 1;
}

extern "C" {

// A macro, since each factory needs a name of its own in C linkage.
// NOLINTBEGIN(cppcoreguidelines-macro-usage,bugprone-macro-parentheses)
#define FIXTURE_FACTORY(NAME, HANDLER)                                                             \
    [[gnu::visibility("default")]] Instance_Handler* _make_##NAME(                                 \
        Instance_Handler_Exterminator* gobbler)                                                    \
    {                                                                                              \
        return make<HANDLER>(gobbler);                                                             \
    }
// NOLINTEND(cppcoreguidelines-macro-usage,bugprone-macro-parentheses)

FIXTURE_FACTORY(Proper_Handler, Proper_Handler)
FIXTURE_FACTORY(Crashing_Handler, Probing_Handler<crash>)
FIXTURE_FACTORY(Aborting_Handler, Probing_Handler<abort_process>)
FIXTURE_FACTORY(Exiting_Handler, Probing_Handler<exit_process>)
FIXTURE_FACTORY(Hanging_Handler, Probing_Handler<hang>)
FIXTURE_FACTORY(Chatty_Handler, Probing_Handler<chatter>)
FIXTURE_FACTORY(Null_Message_Handler, Probing_Handler<throw_null_message>)
FIXTURE_FACTORY(Multi_Line_Handler, Probing_Handler<throw_lines>)
FIXTURE_FACTORY(Throwing_Handler, Probing_Handler<throw_refusal>)
FIXTURE_FACTORY(Deep_Handler, Probing_Handler<nest_deeply>)
FIXTURE_FACTORY(Invalid_Utf8_Handler, Probing_Handler<invalid_utf8>)
FIXTURE_FACTORY(Breaks_Probe, Probing_Handler<misnamed>)
FIXTURE_FACTORY(Breaks_Probe_Keeps_Others, Probing_Handler<clears_others>)
FIXTURE_FACTORY(Breaks_Probe_Replaces, Probing_Handler<keeps_old>)
FIXTURE_FACTORY(Breaks_Probe_Keeps_No_Reference, Probing_Handler<keeps_reference>)
FIXTURE_FACTORY(Breaks_Probe_Out_Of_Memory, Probing_Handler<touches_table_early>)
FIXTURE_FACTORY(Breaks_Get_State, Appending_Handler)

/// Fails as an exhausted factory does.
[[gnu::visibility("default")]] Instance_Handler*
_make_Exhausted_Handler(Instance_Handler_Exterminator* gobbler)
{
    *gobbler = &gobble<Proper_Handler>;
    errno = ENOMEM;
    return nullptr;
}

/// Throws from the factory itself.
[[gnu::visibility("default")]] Instance_Handler*
_make_Refusing_Handler(Instance_Handler_Exterminator* /*gobbler*/)
{
    throw std::logic_error("factory refused on purpose");
}

/// Changes errno although it succeeds.
[[gnu::visibility("default")]] Instance_Handler*
_make_Breaks_Factory(Instance_Handler_Exterminator* gobbler)
{
    Instance_Handler* handler = make<Proper_Handler>(gobbler);
    if (handler != nullptr) {
        errno = EINVAL;
    }
    return handler;
}

/// Lets exhausted memory leave as an exception.
[[gnu::visibility("default")]] Instance_Handler*
_make_Breaks_Factory_Out_Of_Memory(Instance_Handler_Exterminator* gobbler)
{
    if (gobbler != nullptr) {
        *gobbler = &gobble<Proper_Handler>;
    }
    return new Proper_Handler();
}

/// Hands back an exterminator that follows a null pointer.
[[gnu::visibility("default")]] Instance_Handler*
_make_Breaks_Exterminator_Null(Instance_Handler_Exterminator* gobbler)
{
    Instance_Handler* handler = make<Proper_Handler>(gobbler);
    if (gobbler != nullptr) {
        *gobbler = &gobble_null_unsafely;
    }
    return handler;
}

} // extern "C"
