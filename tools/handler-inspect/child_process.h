// child_process.h - runs a piece of work in a child process, so that a
// library that crashes, hangs, exits or prints cannot take the tool with it.
#ifndef HANDLER_INSPECT_CHILD_PROCESS_H
#define HANDLER_INSPECT_CHILD_PROCESS_H

#include <functional>
#include <string>

namespace handler_inspect {

/// The child's side: it names each step as it begins and sends one report.
class Channel {
public:
    explicit Channel(int fd) noexcept : fd_(fd) {}
    /// Announces that the step `name` begins.
    void step(const char* name) const noexcept;
    /// Sends the report; the parent takes the last one sent.
    void report(const std::string& text) const noexcept;

private:
    void write_all(const char* data, std::size_t size) const noexcept;
    int fd_;
};

struct Child_Outcome {
    enum class End { reported, no_report, signalled, timed_out, not_started };
    End end = End::not_started;
    int status = 0;          ///< the exit status, or the signal's number
    std::string step;        ///< the last step the child announced
    std::string report;      ///< the report, when end is reported
    std::string output;      ///< what the child wrote to stdout and stderr, cut
    bool output_cut = false; ///< whether more was written than is kept
    std::string error;       ///< why the child could not be run, for not_started

    /// One line saying how a child that sent no report ended, e.g.
    /// "crashed with SIGSEGV during probe_instances".
    std::string ending() const;
};

/// At most this much of what the child prints is kept.
constexpr std::size_t output_limit = 4096;

/// Runs `work` in a child process whose stdout and stderr are captured, and
/// kills it (and anything it started) after `timeout_seconds`. The outcome is
/// `reported` only when the child sent a report and then exited with 0.
Child_Outcome run_in_child(const std::function<void(const Channel&)>& work, double timeout_seconds);

} // namespace handler_inspect

#endif // HANDLER_INSPECT_CHILD_PROCESS_H
