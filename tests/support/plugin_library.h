// plugin_library.h - loads a handler plug-in the way the agent does.
#ifndef TESTS_SUPPORT_PLUGIN_LIBRARY_H
#define TESTS_SUPPORT_PLUGIN_LIBRARY_H

#include <dlfcn.h>

#include <memory>
#include <stdexcept>
#include <string>

#include "agent/instance/instance_handler.h"

namespace test_support {

using Handler_Factory = Instance_Handler* (*)(Instance_Handler_Exterminator*);

constexpr const char* nutanix_factory = "_make_Nutanix_Instance_Handler";

/// A dlopen'ed library, closed again when this object goes.
class Plugin_Library {
public:
    explicit Plugin_Library(const std::string& path, int flags = RTLD_NOW | RTLD_LOCAL)
        : handle_(dlopen(path.c_str(), flags))
    {
        if (handle_ == nullptr) {
            throw std::runtime_error(std::string("dlopen: ") + dlerror());
        }
    }
    ~Plugin_Library() { dlclose(handle_); }
    Plugin_Library(const Plugin_Library&) = delete;
    Plugin_Library& operator=(const Plugin_Library&) = delete;

    /// The factory of that name; throws when the library has none.
    Handler_Factory factory(const char* name = nutanix_factory) const
    {
        void* symbol = dlsym(handle_, name);
        if (symbol == nullptr) {
            throw std::runtime_error(std::string("dlsym: no ") + name);
        }
        return reinterpret_cast<Handler_Factory>(symbol);
    }

private:
    void* handle_;
};

/// A handler owned the agent's way: destroyed through its exterminator.
class Handler {
public:
    explicit Handler(Handler_Factory factory) : handler_(factory(&exterminator_)) {}
    ~Handler()
    {
        if (exterminator_ != nullptr) {
            exterminator_(handler_);
        }
    }
    Handler(const Handler&) = delete;
    Handler& operator=(const Handler&) = delete;

    Instance_Handler* get() const noexcept { return handler_; }
    Instance_Handler* operator->() const noexcept { return handler_; }
    Instance_Handler_Exterminator exterminator() const noexcept { return exterminator_; }

private:
    Instance_Handler_Exterminator exterminator_ = nullptr;
    Instance_Handler* handler_;
};

} // namespace test_support

#endif // TESTS_SUPPORT_PLUGIN_LIBRARY_H
