// External programs: posix_spawn, output capture, cancellation passed on.
#include "external_tool.h"

#include "job_state.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <optional>
#include <ctime>

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

    // After the tool itself has ended: whatever it started and left behind in
    // a cancelled job goes too.
    void finish()
    {
        if (terminated_)
            kill(-group_, SIGKILL);
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
    Pipe() { ok_ = pipe2(fds_, O_CLOEXEC) == 0; }
    ~Pipe()
    {
        close_read();
        close_write();
    }
    Pipe(const Pipe &) = delete;
    Pipe &operator=(const Pipe &) = delete;
    bool ok() const { return ok_; }
    int read_end() const { return fds_[0]; }
    int write_end() const { return fds_[1]; }
    void close_read() { close_one(fds_[0]); }
    void close_write() { close_one(fds_[1]); }

private:
    static void close_one(int &fd)
    {
        if (fd >= 0)
            close(fd);
        fd = -1;
    }
    int fds_[2] = {-1, -1};
    bool ok_ = false;
};

void pause_briefly()
{
    const timespec pause{0, kPollMs * 1000000L};
    nanosleep(&pause, nullptr);
}

// Reads the child's output until it closes it, passing a cancel on meanwhile.
void collect_output(int fd, CancelForwarder &cancel, std::string &output)
{
    char buffer[4096];
    for (;;) {
        cancel.poll();
        pollfd pfd{fd, POLLIN, 0};
        const int ready = poll(&pfd, 1, kPollMs);
        if (ready < 0 && errno != EINTR)
            return;
        if (ready <= 0)
            continue;
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (n <= 0)
            return;
        if (output.size() < kCaptureLimit)
            output.append(buffer, static_cast<std::size_t>(n));
    }
}

int wait_for(pid_t pid, CancelForwarder &cancel)
{
    int status = 0;
    for (;;) {
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid)
            break;
        if (done < 0 && errno != EINTR)
            return -1;
        cancel.poll();
        pause_briefly();
    }
    cancel.finish();
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

    std::optional<Pipe> pipe;
    SpawnActions actions;
    posix_spawn_file_actions_addopen(actions.get(), 0, "/dev/null", O_RDONLY, 0);
    if (output == ToolOutput::Capture) {
        pipe.emplace();
        if (!pipe->ok()) {
            result.spawn_error = errno;
            return result;
        }
        posix_spawn_file_actions_adddup2(actions.get(), pipe->write_end(), 1);
    } else {
        posix_spawn_file_actions_adddup2(actions.get(), output == ToolOutput::ToFd ? out_fd : 2, 1);
    }

    SpawnAttributes attributes;
    prepare_attributes(attributes.get());
    pid_t pid = 0;
    result.spawn_error = posix_spawnp(&pid, args[0], actions.get(), attributes.get(), args.data(), environ);
    if (result.spawn_error != 0)
        return result;
    CancelForwarder cancel(pid);
    if (pipe) {
        pipe->close_write();
        collect_output(pipe->read_end(), cancel, result.output);
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
