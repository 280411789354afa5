// loaded_library.h - a handler library loaded the agent's way, and a handler
// from its factory; used inside the child process only.
#ifndef HANDLER_INSPECT_LOADED_LIBRARY_H
#define HANDLER_INSPECT_LOADED_LIBRARY_H

#include <exception>
#include <stdexcept>
#include <string>

#include "agent/instance/instance_handler.h"
#include "text.h"

namespace handler_inspect {

/// A failure to report as one line.
class Inspect_Error : public std::runtime_error {
    using std::runtime_error::runtime_error;
};

using Factory = Instance_Handler* (*)(Instance_Handler_Exterminator*);

/// The library, loaded with RTLD_NOW | RTLD_LOCAL and closed by close().
class Loaded_Library {
public:
    /// Throws Inspect_Error naming the library when dlopen fails.
    explicit Loaded_Library(const std::string& path);
    Loaded_Library(const Loaded_Library&) = delete;
    Loaded_Library& operator=(const Loaded_Library&) = delete;
    ~Loaded_Library() = default; // left loaded: the process ends soon

    /// The factory `name`, which must be a function defined in this library
    /// itself; otherwise throws Inspect_Error "no factory NAME in LIBRARY".
    Factory factory(const std::string& name) const;

    /// dlclose; throws Inspect_Error when it fails.
    void close();

private:
    std::string path_;
    void* handle_ = nullptr;
};

/// A handler from the factory, destroyed through its exterminator by destroy().
class Handler {
public:
    /// Calls the factory; throws Inspect_Error when it throws, returns null or
    /// hands back no exterminator.
    Handler(Factory factory, const std::string& name);
    Handler(const Handler&) = delete;
    Handler& operator=(const Handler&) = delete;
    ~Handler() = default; // a handler not destroyed is left to the process's end

    Instance_Handler* operator->() const noexcept { return handler_; }
    Instance_Handler* get() const noexcept { return handler_; }
    Instance_Handler_Exterminator exterminator() const noexcept { return exterminator_; }
    /// Passes the handler to its exterminator.
    void destroy();

private:
    Instance_Handler_Exterminator exterminator_ = nullptr;
    Instance_Handler* handler_ = nullptr;
};

/// Runs `call`, turning any exception into an Inspect_Error naming `operation`.
template <class Call>
decltype(auto) ask(const std::string& operation, Call&& call)
{
    try {
        return call();
    } catch (const std::exception& error) {
        throw Inspect_Error(operation + " threw: " + message_of(error.what()));
    } catch (...) {
        throw Inspect_Error(operation + " threw an exception that is not a std::exception");
    }
}

} // namespace handler_inspect

#endif // HANDLER_INSPECT_LOADED_LIBRARY_H
