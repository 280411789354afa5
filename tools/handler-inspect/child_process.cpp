#include "child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "text.h"

namespace handler_inspect {

namespace {

constexpr std::size_t work_stack_size = std::size_t{512} << 20;

// Messages on the report pipe: 'S' NAME '\n' for a step, 'R' LENGTH '\n'
// BYTES for the report.

double now_seconds()
{
    timespec time{};
    clock_gettime(CLOCK_MONOTONIC, &time);
    return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_nsec) / 1e9;
}

std::string signal_name(int number)
{
    const char* abbreviation = sigabbrev_np(number);
    return abbreviation == nullptr ? "signal " + std::to_string(number)
                                   : std::string("SIG") + abbreviation;
}

class Pipe {
public:
    Pipe()
    {
        if (pipe2(fds_, O_CLOEXEC) != 0) {
            fds_[0] = fds_[1] = -1;
        }
    }
    ~Pipe()
    {
        close_read();
        close_write();
    }
    Pipe(const Pipe&) = delete;
    Pipe& operator=(const Pipe&) = delete;

    bool ok() const noexcept { return fds_[0] >= 0; }
    int read_end() const noexcept { return fds_[0]; }
    int write_end() const noexcept { return fds_[1]; }
    void close_read() noexcept { close_fd(fds_[0]); }
    void close_write() noexcept { close_fd(fds_[1]); }

private:
    static void close_fd(int& fd) noexcept
    {
        if (fd >= 0) {
            close(fd);
            fd = -1;
        }
    }
    int fds_[2]{-1, -1};
};

[[noreturn]] void run_child(const std::function<void(const Channel&)>& work, Pipe& reports,
                            Pipe& output)
{
    setpgid(0, 0); // so that a time-out kills whatever the library starts too
    signal(SIGPIPE, SIG_DFL);
    reports.close_read();
    output.close_read();
    const int null_input = open("/dev/null", O_RDONLY);
    if (null_input >= 0) {
        dup2(null_input, STDIN_FILENO);
    }
    dup2(output.write_end(), STDOUT_FILENO);
    dup2(output.write_end(), STDERR_FILENO);
    struct Task { // NOLINT(cppcoreguidelines-pro-type-member-init): an aggregate
        const std::function<void(const Channel&)>& work;
        Channel channel;
        int status;
    } task{work, Channel(reports.write_end()), 0};
    const auto run = [](void* argument) -> void* {
        auto& t = *static_cast<Task*>(argument);
        try {
            t.work(t.channel);
        } catch (...) {
            t.status = 3; // no report: the parent says how the child ended
        }
        return nullptr;
    };
    // On a thread with a large stack, so that a deeply nested record that the
    // library's own code copies or destroys recursively does not overflow it.
    pthread_attr_t attributes;
    pthread_t thread{};
    if (pthread_attr_init(&attributes) == 0 &&
        pthread_attr_setstacksize(&attributes, work_stack_size) == 0 &&
        pthread_create(&thread, &attributes, run, &task) == 0) {
        pthread_join(thread, nullptr);
    } else {
        run(&task);
    }
    const int status = task.status;
    // What the library printed through stdio, before the process goes.
    std::fflush(stdout);
    std::fflush(stderr);
    _exit(status);
}

} // namespace

void Channel::write_all(const char* data, std::size_t size) const noexcept
{
    while (size > 0) {
        const ssize_t written = write(fd_, data, size);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return;
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
}

void Channel::step(const char* name) const noexcept
{
    std::string message = "S";
    message += name;
    message += '\n';
    write_all(message.data(), message.size());
}

void Channel::report(const std::string& text) const noexcept
{
    const std::string head = "R" + std::to_string(text.size()) + "\n";
    write_all(head.data(), head.size());
    write_all(text.data(), text.size());
}

std::string Child_Outcome::ending() const
{
    const std::string during = step.empty() ? "" : " during " + step;
    switch (end) {
    case End::reported: return "finished" + during;
    case End::no_report:
        return "the library ended the process with exit status " + std::to_string(status) + during;
    case End::signalled: return "the library crashed with " + signal_name(status) + during;
    case End::timed_out: return "timed out" + during + "; the process was killed";
    case End::not_started: return "cannot run a child process: " + error;
    }
    return "unknown";
}

// NOLINTNEXTLINE(readability-function-cognitive-complexity): one loop over two pipes
Child_Outcome run_in_child(const std::function<void(const Channel&)>& work, double timeout_seconds)
{
    Child_Outcome outcome;
    Pipe reports;
    Pipe output;
    if (!reports.ok() || !output.ok()) {
        outcome.error = std::strerror(errno);
        return outcome;
    }
    std::fflush(stdout);
    std::fflush(stderr);
    const pid_t child = fork();
    if (child < 0) {
        outcome.error = std::strerror(errno);
        return outcome;
    }
    if (child == 0) {
        run_child(work, reports, output);
    }
    reports.close_write();
    output.close_write();

    std::string messages;
    const double deadline = now_seconds() + timeout_seconds;
    bool reaped = false;
    bool timed_out = false;
    int wait_status = 0;
    double drain_until = 0;
    pollfd fds[2] = {{reports.read_end(), POLLIN, 0}, {output.read_end(), POLLIN, 0}};
    for (;;) {
        if (!reaped && waitpid(child, &wait_status, WNOHANG) == child) {
            reaped = true;
            drain_until = now_seconds() + 0.5; // for what is still in the pipes
        }
        const bool open = fds[0].fd >= 0 || fds[1].fd >= 0;
        const double now = now_seconds();
        if (reaped && (!open || now > drain_until)) {
            break;
        }
        if (!reaped && now > deadline) {
            kill(-child, SIGKILL);
            kill(child, SIGKILL);
            waitpid(child, &wait_status, 0);
            timed_out = true;
            break;
        }
        if (poll(fds, 2, 20) < 0 && errno != EINTR) {
            break;
        }
        for (auto& fd : fds) {
            if (fd.fd < 0 || (fd.revents & (POLLIN | POLLHUP | POLLERR)) == 0) {
                continue;
            }
            char buffer[65536];
            const ssize_t got = read(fd.fd, buffer, sizeof buffer);
            if (got <= 0) {
                if (got == 0 || errno != EINTR) {
                    fd.fd = -1;
                }
                continue;
            }
            const auto size = static_cast<std::size_t>(got);
            if (&fd == &fds[0]) {
                messages.append(buffer, size);
            } else if (outcome.output.size() < output_limit) {
                const std::size_t keep = std::min(size, output_limit - outcome.output.size());
                outcome.output.append(buffer, keep);
                outcome.output_cut = outcome.output_cut || keep < size;
            } else {
                outcome.output_cut = true;
            }
        }
    }
    kill(-child, SIGKILL); // anything the library left running

    bool have_report = false;
    std::size_t at = 0;
    while (at < messages.size()) {
        const std::size_t line_end = messages.find('\n', at);
        if (line_end == std::string::npos) {
            break;
        }
        const std::string head = messages.substr(at + 1, line_end - at - 1);
        if (messages[at] == 'S') {
            outcome.step = head;
            at = line_end + 1;
        } else if (messages[at] == 'R') {
            char* end = nullptr;
            const unsigned long long length = std::strtoull(head.c_str(), &end, 10);
            if (end == head.c_str() || *end != '\0' || length > messages.size() - line_end - 1) {
                break;
            }
            outcome.report = messages.substr(line_end + 1, length);
            have_report = true;
            at = line_end + 1 + length;
        } else {
            break;
        }
    }

    if (timed_out) {
        outcome.end = Child_Outcome::End::timed_out;
    } else if (WIFSIGNALED(wait_status)) {
        outcome.end = Child_Outcome::End::signalled;
        outcome.status = WTERMSIG(wait_status);
    } else if (have_report && WIFEXITED(wait_status) && WEXITSTATUS(wait_status) == 0) {
        outcome.end = Child_Outcome::End::reported;
    } else {
        outcome.end = Child_Outcome::End::no_report;
        outcome.status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : -1;
    }
    return outcome;
}

} // namespace handler_inspect
