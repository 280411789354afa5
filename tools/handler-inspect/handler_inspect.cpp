// handler-inspect - loads an instance-handler plug-in as the agent does and
// shows what its handler offers: the type name it gives its base, the
// instances it probes with their options, each instance's state and the
// answer to a logon.
//
//   handler-inspect LIBRARY.so [--factory NAME] [--json]
//
// Exit status: 0 when everything was shown, 1 when the library or its
// handler failed (with one line on stderr), 2 for a wrong command line.
#include <dlfcn.h>
#include <elf.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <fstream>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "agent/instance/instance.h"
#include "agent/instance/instance_handler.h"
#include "json_spirit/json_spirit_value.h"

namespace {

constexpr const char* default_factory = "_make_Nutanix_Instance_Handler";
constexpr const char* usage =
    "usage: handler-inspect LIBRARY.so [--factory NAME] [--json]\n"
    "Loads an instance-handler plug-in the way the agent does and shows its handler:\n"
    "its type name, the instances it probes, their states and its logon answer.\n"
    "  --factory NAME  the factory to resolve (default _make_Nutanix_Instance_Handler)\n"
    "  --json          print one JSON document instead of text\n";

/// A failure to report as one line and exit status 1.
class Inspect_Error : public std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct Options {
    std::string library;
    std::string factory = default_factory;
    bool json = false;
};

// Records are turned into JSON while the library is loaded: the code that
// releases them is the plug-in's.
struct Instance_Report {
    std::string key;
    nlohmann::json record; // null for a null record
    std::string state;
    int logon = 0;
};

struct Report {
    std::string library;
    std::string factory;
    std::string type_name;
    int probe_status = 0;
    std::vector<Instance_Report> instances;
};

/// dlerror()'s text, kept to one line.
std::string last_dl_error()
{
    const char* text = dlerror();
    std::string line = text == nullptr ? "unknown error" : text;
    std::replace(line.begin(), line.end(), '\n', ' ');
    return line;
}

#if defined(__aarch64__)
constexpr unsigned host_machine = EM_AARCH64;
#elif defined(__x86_64__)
constexpr unsigned host_machine = EM_X86_64;
#else
#error "handler-inspect knows the ELF machine of aarch64 and x86_64 hosts only"
#endif

std::string machine_name(unsigned machine)
{
    switch (machine) {
    case EM_X86_64: return "x86-64";
    case EM_AARCH64: return "AArch64";
    case EM_386: return "x86";
    case EM_ARM: return "ARM";
    case EM_RISCV: return "RISC-V";
    case EM_PPC64: return "PowerPC64";
    case EM_S390: return "S/390";
    default: return "ELF machine " + std::to_string(machine);
    }
}

/// Why an ELF file cannot run here, or "" when its header fits this machine.
/// glibc reports a foreign machine as "No such file or directory", which
/// would send the reader looking for a missing file.
std::string foreign_elf_reason(const std::string& path)
{
    Elf64_Ehdr header{};
    std::ifstream file(path, std::ios::binary);
    if (!file.read(reinterpret_cast<char*>(&header), sizeof header) ||
        std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0) {
        return "";
    }
    if (header.e_ident[EI_CLASS] != ELFCLASS64) {
        return "a 32-bit ELF file, and this machine runs 64-bit code";
    }
    if (header.e_machine != host_machine) {
        return "built for " + machine_name(header.e_machine) + ", and this machine is " +
               machine_name(host_machine);
    }
    return "";
}

class Library {
public:
    explicit Library(const std::string& path)
    {
        struct stat info {};
        if (stat(path.c_str(), &info) != 0) {
            throw Inspect_Error(path + ": " + std::strerror(errno));
        }
        if (!S_ISREG(info.st_mode)) {
            throw Inspect_Error(path + ": not a regular file");
        }
        // A name without a slash would send dlopen searching the library path.
        const std::string file = path.find('/') == std::string::npos ? "./" + path : path;
        handle_ = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle_ == nullptr) {
            std::string reason = last_dl_error();
            const std::string foreign = foreign_elf_reason(path);
            if (!foreign.empty()) {
                reason = foreign + " (" + reason + ")";
            }
            throw Inspect_Error("cannot load " + path + ": " + reason);
        }
    }
    ~Library() { dlclose(handle_); }
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;

    void* symbol(const std::string& name) const
    {
        dlerror();
        void* address = dlsym(handle_, name.c_str());
        if (address == nullptr) {
            throw Inspect_Error("no factory " + name + ": " + last_dl_error());
        }
        return address;
    }

private:
    void* handle_ = nullptr;
};

using Factory = Instance_Handler* (*)(Instance_Handler_Exterminator*);

/// A handler from the factory, destroyed through its exterminator.
class Handler {
public:
    Handler(Factory factory, const std::string& name)
    {
        errno = 0;
        try {
            handler_ = factory(&exterminator_);
        } catch (const std::exception& error) {
            throw Inspect_Error("factory " + name + " threw: " + error.what());
        } catch (...) {
            throw Inspect_Error("factory " + name + " threw an unknown exception");
        }
        if (handler_ == nullptr) {
            const int error = errno;
            throw Inspect_Error("factory " + name + " returned no handler: " +
                                (error == 0 ? "errno not set" : std::strerror(error)));
        }
        if (exterminator_ == nullptr) {
            // Without it the handler cannot be destroyed safely: leave it be.
            handler_ = nullptr;
            throw Inspect_Error("factory " + name + " handed back no exterminator");
        }
    }
    ~Handler()
    {
        if (handler_ != nullptr) {
            exterminator_(handler_);
        }
    }
    Handler(const Handler&) = delete;
    Handler& operator=(const Handler&) = delete;

    Instance_Handler* operator->() const noexcept { return handler_; }

private:
    Instance_Handler_Exterminator exterminator_ = nullptr;
    Instance_Handler* handler_ = nullptr;
};

/// Runs `call`, turning an exception from the handler into an Inspect_Error.
template <class Call>
auto ask(const char* operation, Call&& call)
{
    try {
        return call();
    } catch (const std::exception& error) {
        throw Inspect_Error(std::string(operation) + " threw: " + error.what());
    } catch (...) {
        throw Inspect_Error(std::string(operation) + " threw an unknown exception");
    }
}

nlohmann::json to_json(const json_spirit::Value& value)
{
    switch (value.type()) {
    case json_spirit::obj_type: {
        auto object = nlohmann::json::object();
        for (const auto& [key, member] : value.get_obj()) {
            object[key] = to_json(member);
        }
        return object;
    }
    case json_spirit::array_type: {
        auto array = nlohmann::json::array();
        for (const auto& element : value.get_array()) {
            array.push_back(to_json(element));
        }
        return array;
    }
    case json_spirit::str_type: return value.get_str();
    case json_spirit::secure_str_type: return "********"; // never show a secret
    case json_spirit::bool_type: return value.get_bool();
    case json_spirit::int_type: return value.get_int64();
    case json_spirit::real_type: return value.get_real();
    case json_spirit::null_type: return nullptr;
    }
    return nullptr;
}

/// The record as the framework's own dump() maps it.
nlohmann::json to_json(const Instance& record)
{
    json_spirit::Object object;
    record.dump(object);
    return to_json(json_spirit::Value(std::move(object)));
}

Report inspect(const Options& options)
{
    const Library library(options.library);
    const auto factory = reinterpret_cast<Factory>(library.symbol(options.factory));
    const Handler handler(factory, options.factory);

    Report report;
    report.library = options.library;
    report.factory = options.factory;
    report.type_name = handler->type_name();

    Instance_Handler::instances_type table;
    report.probe_status = ask("probe_instances", [&] { return handler->probe_instances(table); });
    for (const auto& [key, record] : table) {
        const char* name = key.c_str(); // structured bindings cannot be captured in C++17
        Instance_Report entry{key, record ? to_json(*record) : nlohmann::json(nullptr), {}, 0};
        ask("get_state", [&] { return &handler->get_state(name, entry.state); });
        entry.logon = ask("logon", [&] { return handler->logon(name, nullptr, nullptr, nullptr); });
        report.instances.push_back(std::move(entry));
    }
    return report;
}

void print_json(const Report& report)
{
    auto instances = nlohmann::json::array();
    for (const auto& entry : report.instances) {
        instances.push_back({{"key", entry.key},
                             {"record", entry.record},
                             {"state", entry.state},
                             {"logon", entry.logon}});
    }
    const nlohmann::json document = {
        {"library", report.library},     {"factory", report.factory},
        {"type_name", report.type_name}, {"probe_instances", report.probe_status},
        {"instances", instances},
    };
    std::printf("%s\n", document.dump(2).c_str());
}

void print_text(const Report& report)
{
    std::printf("Library:          %s\n", report.library.c_str());
    std::printf("Factory:          %s\n", report.factory.c_str());
    std::printf("Type name:        %s\n", report.type_name.c_str());
    std::printf("probe_instances:  %d\n", report.probe_status);
    std::printf("Instances:        %zu\n", report.instances.size());
    for (const auto& entry : report.instances) {
        std::printf("\nInstance \"%s\"\n", entry.key.c_str());
        const auto& record = entry.record;
        if (record.is_null()) {
            std::printf("  (null record)\n");
        } else {
            std::printf("  type:           %s\n",
                        record["type"].get_ref<const std::string&>().c_str());
            std::printf("  name:           %s\n",
                        record["name"].get_ref<const std::string&>().c_str());
            std::printf("  uuid:           %s\n",
                        record["uuid"].get_ref<const std::string&>().c_str());
            std::printf("  options:        %s\n", record["options"].dump().c_str());
            std::printf("  logon options:  %s\n", record["logon_options"].dump().c_str());
        }
        std::printf("  get_state:      %s\n", entry.state.c_str());
        std::printf("  logon:          %d\n", entry.logon);
    }
}

/// Parses the command line; null when it is wrong.
std::unique_ptr<Options> parse(int argc, char** argv)
{
    auto options = std::make_unique<Options>();
    bool have_library = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--json") {
            options->json = true;
        } else if (arg == "--factory" && i + 1 < argc && argv[i + 1][0] != '\0') {
            options->factory = argv[++i];
        } else if (arg.rfind("--factory=", 0) == 0 && arg.size() > 10) {
            options->factory = arg.substr(10);
        } else if (!arg.empty() && arg[0] != '-' && !have_library) {
            options->library = arg;
            have_library = true;
        } else {
            return nullptr;
        }
    }
    if (!have_library) {
        return nullptr;
    }
    return options;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(usage, stdout);
        return 0;
    }
    const auto options = parse(argc, argv);
    if (!options) {
        std::fputs(usage, stderr);
        return 2;
    }
    try {
        const Report report = inspect(*options);
        if (options->json) {
            print_json(report);
        } else {
            print_text(report);
        }
        return std::fflush(stdout) == 0 ? 0 : 1;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "handler-inspect: %s\n", error.what());
        return 1;
    }
}
