// SPDX-License-Identifier: GPL-2.0-or-later
// External programs: posix_spawn, output capture, the tools' log relayed,
// cancellation passed on, nothing of a tool left running.
#include "external_tool.h"

#include "job_state.h"
#include "unique_fd.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <optional>
#include <string_view>

extern char **environ;

namespace {

// Output beyond this is read and dropped: the callers need a line or two.
constexpr std::size_t kCaptureLimit = 64 * 1024;
constexpr int kPollMs = 20;
// A tool that has not ended this long after the termination signal is killed.
constexpr int kTermGraceMs = 1000;

class SpawnActions {
public:
    SpawnActions() { posix_spawn_file_actions_init(&actions_); }
    ~SpawnActions() { posix_spawn_file_actions_destroy(&actions_); }
    SpawnActions(const SpawnActions &) = delete;
    SpawnActions &operator=(const SpawnActions &) = delete;
    posix_spawn_file_actions_t *get() { return &actions_; }

private:
    posix_spawn_file_actions_t actions_;
};

class SpawnAttributes {
public:
    SpawnAttributes() { posix_spawnattr_init(&attributes_); }
    ~SpawnAttributes() { posix_spawnattr_destroy(&attributes_); }
    SpawnAttributes(const SpawnAttributes &) = delete;
    SpawnAttributes &operator=(const SpawnAttributes &) = delete;
    posix_spawnattr_t *get() { return &attributes_; }

private:
    posix_spawnattr_t attributes_;
};

// The tool leads a process group of its own, so that a cancel reaches the
// programs it starts in turn (the pdftops filter runs ghostscript or poppler),
// and gets the default SIGPIPE that the filter itself ignores.
void prepare_attributes(posix_spawnattr_t *attributes)
{
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigdefault(attributes, &defaults);
    posix_spawnattr_setpgroup(attributes, 0);
    posix_spawnattr_setflags(attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF);
}

// Passes a cancel on to the tool's whole process group, once; a group that
// ignores it is killed after kTermGraceMs.
class CancelForwarder {
public:
    explicit CancelForwarder(pid_t group) : group_(group) {}

    void poll()
    {
        if (!job_canceled.load())
            return;
        const timespec now = monotonic_now();
        if (!terminated_) {
            kill(-group_, SIGTERM);
            terminated_ = true;
            term_sent_ = now;
        } else if (!killed_ && elapsed_ms(term_sent_, now) >= kTermGraceMs) {
            kill(-group_, SIGKILL);
            killed_ = true;
        }
    }

private:
    static timespec monotonic_now()
    {
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        return now;
    }
    static long elapsed_ms(const timespec &from, const timespec &to)
    {
        return (to.tv_sec - from.tv_sec) * 1000L + (to.tv_nsec - from.tv_nsec) / 1000000L;
    }

    pid_t group_;
    bool terminated_ = false;
    bool killed_ = false;
    timespec term_sent_{};
};

class Pipe {
public:
    Pipe()
    {
        int fds[2] = {-1, -1};
        ok_ = pipe2(fds, O_CLOEXEC) == 0;
        read_.reset(fds[0]);
        write_.reset(fds[1]);
    }
    bool ok() const { return ok_; }
    int read_end() const { return read_.get(); }
    int write_end() const { return write_.get(); }
    void close_read() { read_.reset(); }
    void close_write() { write_.reset(); }

private:
    varkon::UniqueFd read_;
    varkon::UniqueFd write_;
    bool ok_ = false;
};

void pause_briefly()
{
    const timespec pause{0, kPollMs * 1000000L};
    nanosleep(&pause, nullptr);
}

// The tools log the job's texts (title, user, options) as they are: the CUPS
// pdftops filter logs its command line. A line end inside such a text would
// let whoever named the job write lines that CUPS acts on ("PAGE:", "ATTR:",
// "STATE:", "PPD:"). Messages pass as they are; any other line is relayed as
// debugging text under the tool's name.
class LogRelay {
public:
    explicit LogRelay(const std::string &program)
        : tool_(program.substr(program.rfind('/') == std::string::npos ? 0 : program.rfind('/') + 1))
    {
    }
    ~LogRelay() { flush(); }
    LogRelay(const LogRelay &) = delete;
    LogRelay &operator=(const LogRelay &) = delete;

    void add(const char *data, std::size_t length)
    {
        pending_.append(data, length);
        for (std::size_t end; (end = pending_.find('\n')) != std::string::npos;) {
            relay(std::string_view(pending_).substr(0, end));
            pending_.erase(0, end + 1);
        }
        // A tool that never ends its line still gets it logged, in pieces.
        if (pending_.size() > kLongestLine)
            flush();
    }

    void flush()
    {
        if (!pending_.empty())
            relay(pending_);
        pending_.clear();
    }

private:
    static constexpr std::size_t kLongestLine = 4096;
    static constexpr const char *kMessagePrefixes[] = {"DEBUG:", "DEBUG2:", "INFO:",  "NOTICE:", "WARNING:",
                                                       "ERROR:", "ALERT:",  "CRIT:", "EMERG:"};

    void relay(std::string_view line) const
    {
        for (const char *prefix : kMessagePrefixes)
            if (line.substr(0, std::strlen(prefix)) == prefix) {
                std::fprintf(stderr, "%.*s\n", static_cast<int>(line.size()), line.data());
                return;
            }
        std::fprintf(stderr, "DEBUG: [%s] %.*s\n", tool_.c_str(), static_cast<int>(line.size()), line.data());
    }

    std::string tool_;
    std::string pending_;
};

// Whether the tool has ended; it stays a zombie, so that its process group
// cannot be reused before the group is cleared.
bool has_ended(pid_t pid)
{
    siginfo_t info{};
    return waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid;
}

// Reads one pipe into `into`, or into the relay; false at its end.
bool read_some(int fd, std::string *into, LogRelay *relay)
{
    char buffer[4096];
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0)
        return errno == EINTR || errno == EAGAIN;
    if (n == 0)
        return false;
    if (into != nullptr && into->size() < kCaptureLimit)
        into->append(buffer, static_cast<std::size_t>(n));
    if (relay != nullptr)
        relay->add(buffer, static_cast<std::size_t>(n));
    return true;
}

// Reads the tool's output and log until the tool ends, passing a cancel on
// meanwhile. Programs the tool left behind may hold the pipes open: once the
// tool has ended only what is already there is read.
void collect(pid_t pid, Pipe *out, Pipe &log, CancelForwarder &cancel, std::string &output, LogRelay &relay)
{
    bool out_open = out != nullptr, log_open = true;
    while (out_open || log_open) {
        cancel.poll();
        const bool ended = has_ended(pid);
        pollfd fds[2] = {{out_open ? out->read_end() : -1, POLLIN, 0}, {log_open ? log.read_end() : -1, POLLIN, 0}};
        const int ready = poll(fds, 2, ended ? 0 : kPollMs);
        if (ready < 0 && errno != EINTR)
            return;
        if (ready <= 0) {
            if (ended)
                return;
            continue;
        }
        if (out_open && fds[0].revents != 0)
            out_open = read_some(out->read_end(), &output, nullptr);
        if (log_open && fds[1].revents != 0)
            log_open = read_some(log.read_end(), nullptr, &relay);
    }
}

// Waits for the tool, clears its process group of anything it left running,
// then collects its exit status.
int wait_for(pid_t pid, CancelForwarder &cancel)
{
    while (!has_ended(pid)) {
        cancel.poll();
        pause_briefly();
    }
    kill(-pid, SIGKILL);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace

varkon::ToolResult varkon::run_tool(const std::vector<std::string> &argv, ToolOutput output, int out_fd)
{
    ToolResult result;
    std::vector<char *> args;
    for (const auto &arg : argv)
        args.push_back(const_cast<char *>(arg.c_str()));
    args.push_back(nullptr);

    std::optional<Pipe> out;
    Pipe log;
    if (!log.ok()) {
        result.spawn_error = errno;
        return result;
    }
    SpawnActions actions;
    posix_spawn_file_actions_addopen(actions.get(), 0, "/dev/null", O_RDONLY, 0);
    if (output == ToolOutput::Capture) {
        out.emplace();
        if (!out->ok()) {
            result.spawn_error = errno;
            return result;
        }
        posix_spawn_file_actions_adddup2(actions.get(), out->write_end(), 1);
    } else {
        posix_spawn_file_actions_adddup2(actions.get(), output == ToolOutput::ToFd ? out_fd : log.write_end(), 1);
    }
    posix_spawn_file_actions_adddup2(actions.get(), log.write_end(), 2);

    SpawnAttributes attributes;
    prepare_attributes(attributes.get());
    pid_t pid = 0;
    result.spawn_error = posix_spawnp(&pid, args[0], actions.get(), attributes.get(), args.data(), environ);
    if (result.spawn_error != 0)
        return result;
    CancelForwarder cancel(pid);
    if (out)
        out->close_write();
    log.close_write();
    {
        LogRelay relay(argv.empty() ? std::string() : argv[0]);
        collect(pid, out ? &*out : nullptr, log, cancel, result.output, relay);
    }
    result.exit_status = wait_for(pid, cancel);
    return result;
}

std::string varkon::first_output_line(const std::string &output)
{
    std::string line = output.substr(0, output.find('\n'));
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return line;
}
