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
    struct {
        std::atomic<long> init{0};
        std::atomic<long> fini{0};
        std::atomic<long> probe_instances{0};
        std::atomic<long> get_state{0};
        std::atomic<long> get_states{0};
        std::atomic<long> logon{0};
        std::atomic<long> logoff{0};
        std::atomic<long> update_options{0};
    } base_calls;
    bool seeded = false;
    std::string seed_uuid;
    Instance::options_type seed_options;
    Instance::logon_type seed_logon_options;
};

Framework_State& framework_state() noexcept;

} // namespace agent_testing::detail

#endif // AGENT_FRAMEWORK_STATE_H
