#include "loaded_library.h"

#include <dlfcn.h>
#include <elf.h>
#include <link.h>

#include <cerrno>
#include <cstring>

#include "text.h"

namespace handler_inspect {

namespace {

std::string last_dl_error()
{
    const char* text = dlerror();
    return text == nullptr ? "unknown error" : text;
}

} // namespace

Loaded_Library::Loaded_Library(const std::string& path) : path_(path)
{
    // A name without a slash would send dlopen searching the library path.
    const std::string file = path.find('/') == std::string::npos ? "./" + path : path;
    handle_ = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) {
        throw Inspect_Error("cannot load " + path + ": " + last_dl_error());
    }
}

Factory Loaded_Library::factory(const std::string& name) const
{
    const std::string missing = "no factory " + name + " in " + path_;
    dlerror();
    void* address = dlsym(handle_, name.c_str());
    if (address == nullptr) {
        throw Inspect_Error(missing);
    }
    // dlsym also searches the library's dependencies: the symbol must be a
    // function of the library itself, not abort() from libc.
    link_map* own = nullptr;
    if (dlinfo(handle_, RTLD_DI_LINKMAP, &own) != 0) {
        throw Inspect_Error(missing + ": " + last_dl_error());
    }
    Dl_info info{};
    void* extra = nullptr;
    if (dladdr1(address, &info, &extra, RTLD_DL_LINKMAP) == 0 ||
        static_cast<link_map*>(extra) != own) {
        throw Inspect_Error(missing + " (the symbol is defined by another library)");
    }
    void* entry = nullptr;
    if (dladdr1(address, &info, &entry, RTLD_DL_SYMENT) == 0 || entry == nullptr) {
        throw Inspect_Error(missing + " (the symbol is not a function)");
    }
    const auto* symbol = static_cast<const ElfW(Sym)*>(entry);
    const unsigned type = ELF64_ST_TYPE(symbol->st_info);
    if (type != STT_FUNC && type != STT_GNU_IFUNC) {
        throw Inspect_Error(missing + " (the symbol is not a function)");
    }
    return reinterpret_cast<Factory>(address);
}

void Loaded_Library::close()
{
    if (handle_ != nullptr && dlclose(handle_) != 0) {
        throw Inspect_Error("cannot unload " + path_ + ": " + last_dl_error());
    }
    handle_ = nullptr;
}

Handler::Handler(Factory factory, const std::string& name)
{
    errno = 0;
    handler_ = ask("factory " + name, [&] { return factory(&exterminator_); });
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

void Handler::destroy()
{
    Instance_Handler* handler = handler_;
    handler_ = nullptr;
    ask("the exterminator", [&] {
        exterminator_(handler);
        return 0;
    });
}

} // namespace handler_inspect
