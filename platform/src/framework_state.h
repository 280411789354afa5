// framework_state.h - the stand-in framework's process-wide test state.
#ifndef AGENT_FRAMEWORK_STATE_H
#define AGENT_FRAMEWORK_STATE_H

#include <atomic>
#include <string>

#include "agent/instance/instance.h"

namespace agent_testing::detail {

struct Framework_State {
    std::atomic<long> handlers_constructed{0};
    std::atomic<long> handlers_destroyed{0};
    std::atomic<long> instances_constructed{0};
    std::atomic<long> instances_destroyed{0};
    std::atomic<bool> fail_next_handler{false};
    bool seeded = false;
    std::string seed_uuid;
    Instance::logon_type seed_logon_options;
};

Framework_State& framework_state() noexcept;

} // namespace agent_testing::detail

#endif // AGENT_FRAMEWORK_STATE_H
