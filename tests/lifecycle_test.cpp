// The library's life in the agent's process: records that outlive every
// handler and the library's own dlclose.
#include <dlfcn.h>

#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "agent/instance/instance_handler.h"
#include "support/plugin_library.h"

namespace {

// Releases, after the library's dlclose, a table filled by its handler.
void probe_unload_then_release_table()
{
    Instance_Handler::instances_type table;
    {
        const test_support::Plugin_Library library(PLUGIN_PATH);
        const test_support::Handler handler(library.factory());
        if (handler->probe_instances(table) != 0 || table.size() != 1) {
            std::_Exit(2);
        }
    }
    // The records' control blocks run the library's code.
    table.clear();
    if (dlopen(PLUGIN_PATH, RTLD_NOW | RTLD_NOLOAD) == nullptr) {
        std::_Exit(3); // unmapped after all, and only lucky not to crash
    }
    std::_Exit(0);
}

TEST(Plugin_Lifecycle, RecordsOutliveTheHandlerAndTheLibrarysDlclose)
{
    // In a child process, since without the fix this crashes.
    EXPECT_EXIT(probe_unload_then_release_table(), ::testing::ExitedWithCode(0), "");
}

} // namespace
