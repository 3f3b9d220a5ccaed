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
void collect_output(int fd, pid_t pid, bool &forwarded, std::string &output)
{
    char buffer[4096];
    for (;;) {
        if (!forwarded && job_canceled.load()) {
            kill(pid, SIGTERM);
            forwarded = true;
        }
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

int wait_for(pid_t pid, bool &forwarded)
{
    int status = 0;
    for (;;) {
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid)
            break;
        if (done < 0 && errno != EINTR)
            return -1;
        if (!forwarded && job_canceled.load()) {
            kill(pid, SIGTERM);
            forwarded = true;
        }
        pause_briefly();
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

    pid_t pid = 0;
    result.spawn_error = posix_spawnp(&pid, args[0], actions.get(), nullptr, args.data(), environ);
    if (result.spawn_error != 0)
        return result;
    bool forwarded = false;
    if (pipe) {
        pipe->close_write();
        collect_output(pipe->read_end(), pid, forwarded, result.output);
    }
    result.exit_status = wait_for(pid, forwarded);
    return result;
}

std::string varkon::first_output_line(const std::string &output)
{
    std::string line = output.substr(0, output.find('\n'));
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return line;
}
