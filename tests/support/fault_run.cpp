// SPDX-License-Identifier: GPL-2.0-or-later
// posix_spawn with poll-driven pipes, a stage predicate for SIGTERM and a /proc
// watch of the filter's descendants.
#include "fault_run.h"

#include "signal_handler.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace varkon::test {

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// A small /proc file of a process, "" once the process is gone. Plain read():
// a file stream throws when the process vanishes in the middle of the read.
std::string read_proc_file(pid_t pid, const char *name)
{
    const std::string path = "/proc/" + std::to_string(pid) + "/" + name;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return {};
    std::string text;
    char buffer[1024];
    ssize_t n;
    while ((n = read(fd, buffer, sizeof buffer)) > 0)
        text.append(buffer, static_cast<std::size_t>(n));
    close(fd);
    return n < 0 ? std::string() : text;
}

// Fields of /proc/<pid>/stat after the name: state and parent.
bool read_stat(pid_t pid, char &state, pid_t &parent)
{
    const std::string stat = read_proc_file(pid, "stat");
    const std::size_t close = stat.rfind(')');
    if (close == std::string::npos)
        return false;
    std::istringstream rest(stat.substr(close + 1));
    return static_cast<bool>(rest >> state >> parent);
}

std::vector<std::string> child_environment(const FaultRun &run)
{
    std::vector<std::string> env;
    for (char **e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        const std::string name = entry.substr(0, entry.find('='));
        const auto named = [&name](const std::string &other) { return other.substr(0, other.find('=')) == name; };
        if (std::none_of(run.unset.begin(), run.unset.end(), named) &&
            std::none_of(run.env.begin(), run.env.end(), named))
            env.push_back(entry);
    }
    env.insert(env.end(), run.env.begin(), run.env.end());
    return env;
}

std::vector<char *> pointers(std::vector<std::string> &texts)
{
    std::vector<char *> out;
    for (auto &t : texts)
        out.push_back(t.data());
    out.push_back(nullptr);
    return out;
}

struct Pipes {
    int in[2] = {-1, -1}, out[2] = {-1, -1}, err[2] = {-1, -1};
    ~Pipes()
    {
        for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]})
            if (fd >= 0)
                close(fd);
    }
};

void close_fd(int &fd)
{
    if (fd >= 0)
        close(fd);
    fd = -1;
}

// Appends what is there; false at end of file.
bool drain(int fd, std::string &into, std::size_t limit = 1 << 20)
{
    char buffer[65536];
    const ssize_t n = read(fd, buffer, std::min(sizeof buffer, limit));
    if (n > 0)
        into.append(buffer, static_cast<std::size_t>(n));
    return n > 0 || (n < 0 && (errno == EAGAIN || errno == EINTR));
}

// Reads what is left once the filter has ended.
void drain_rest(int fd, std::string &into)
{
    fcntl(fd, F_SETFL, O_NONBLOCK);
    char buffer[65536];
    for (;;) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n > 0)
            into.append(buffer, static_cast<std::size_t>(n));
        else if (!(n < 0 && errno == EINTR))
            return;
    }
}

} // namespace

std::vector<pid_t> descendants_of(pid_t root)
{
    std::vector<std::pair<pid_t, pid_t>> all; // pid, parent
    if (DIR *proc = opendir("/proc")) {
        while (dirent *entry = readdir(proc)) {
            const pid_t pid = static_cast<pid_t>(std::atoi(entry->d_name));
            char state;
            pid_t parent;
            if (pid > 0 && read_stat(pid, state, parent))
                all.emplace_back(pid, parent);
        }
        closedir(proc);
    }
    std::vector<pid_t> found = {root};
    for (std::size_t i = 0; i < found.size(); ++i)
        for (const auto &[pid, parent] : all)
            if (parent == found[i])
                found.push_back(pid);
    found.erase(found.begin());
    return found;
}

std::string process_name(pid_t pid)
{
    const std::string comm = read_proc_file(pid, "comm");
    return comm.substr(0, comm.find('\n'));
}

bool process_running(pid_t pid)
{
    char state;
    pid_t parent;
    return read_stat(pid, state, parent) && state != 'Z' && state != 'X';
}

bool process_stops_within(pid_t pid, int ms)
{
    const auto end = Clock::now() + std::chrono::milliseconds(ms);
    while (process_running(pid)) {
        if (Clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

bool runs_program(pid_t pid, const std::string &name)
{
    for (pid_t child : descendants_of(pid))
        if (process_name(child) == name)
            return true;
    return false;
}

FaultResult run_with_faults(const FaultRun &run)
{
    FaultResult result;
    Pipes p;
    if (pipe2(p.in, O_CLOEXEC) != 0 || pipe2(p.out, O_CLOEXEC) != 0 || pipe2(p.err, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    int stdout_target = p.out[1];
    int full = -1;
    if (run.stdout_fault == StdoutFault::Closed) {
        close_fd(p.out[0]);
    } else if (run.stdout_fault == StdoutFault::Full) {
        full = open("/dev/full", O_WRONLY | O_CLOEXEC);
        stdout_target = full;
    }
    std::vector<std::string> args = run.argv, env = child_environment(run);
    std::vector<char *> c_argv = pointers(args), c_env = pointers(env);

    // posix_spawn rather than fork: a test process under a sanitizer maps far
    // more memory than the kernel lets a fork commit.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, p.in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, stdout_target, 1);
    posix_spawn_file_actions_adddup2(&actions, p.err[1], 2);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
    const auto start = Clock::now();
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, run.program.empty() ? c_argv[0] : run.program.c_str(), &actions,
                                    &attributes, c_argv.data(), c_env.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (spawned != 0)
        throw std::runtime_error(std::string("cannot start ") + c_argv[0] + ": " + std::strerror(spawned));
    close_fd(p.in[0]);
    close_fd(p.out[1]);
    close_fd(p.err[1]);
    if (full >= 0)
        close(full);
    fcntl(p.in[1], F_SETFL, O_NONBLOCK);
    fcntl(p.in[1], F_SETPIPE_SZ, 1 << 20); // large rasters go in fewer rounds

    // A filter that ends before it has read all of its input shows as a
    // failed write below; it must not end the test with SIGPIPE.
    varkon::install_signal_handler(SIGPIPE, SIG_IGN);
    std::size_t fed = 0;
    if (run.stdin_data.empty() && !run.hold_stdin_open)
        close_fd(p.in[1]);
    Clock::time_point sigterm_at;
    int status = 0;
    for (bool out_open = p.out[0] >= 0, err_open = true;;) {
        if (p.in[1] >= 0 && fed < run.stdin_data.size()) {
            const ssize_t n = write(p.in[1], run.stdin_data.data() + fed, run.stdin_data.size() - fed);
            if (n > 0)
                fed += static_cast<std::size_t>(n);
            else if (n < 0 && errno != EAGAIN && errno != EINTR)
                close_fd(p.in[1]);
            if (fed == run.stdin_data.size() && !run.hold_stdin_open)
                close_fd(p.in[1]);
        }
        // Woken as soon as the filter has taken input, so that feeding it is not paced by the timeout.
        const bool feeding = p.in[1] >= 0 && fed < run.stdin_data.size();
        pollfd fds[3] = {{out_open ? p.out[0] : -1, POLLIN, 0},
                         {err_open ? p.err[0] : -1, POLLIN, 0},
                         {feeding ? p.in[1] : -1, POLLOUT, 0}};
        poll(fds, 3, run.stdout_fault == StdoutFault::Slow ? run.slow_pause_ms : 10);
        if (out_open && (fds[0].revents & (POLLIN | POLLHUP)) != 0)
            out_open = drain(p.out[0], result.out,
                             run.stdout_fault == StdoutFault::Slow ? run.slow_chunk : std::size_t(1) << 20);
        if (err_open && (fds[1].revents & (POLLIN | POLLHUP)) != 0)
            err_open = drain(p.err[0], result.err);
        for (pid_t program : descendants_of(pid))
            if (std::find(result.programs_started.begin(), result.programs_started.end(), program) ==
                result.programs_started.end()) {
                result.programs_started.push_back(program);
                result.program_names.push_back(process_name(program));
            }
        if (!result.sigterm_sent && run.sigterm_when &&
            run.sigterm_when(FaultProgress{pid, result.out, result.err, seconds_since(start)})) {
            kill(pid, SIGTERM);
            result.sigterm_sent = true;
            sigterm_at = Clock::now();
        }
        if (waitpid(pid, &status, WNOHANG) == pid) {
            if (result.sigterm_sent)
                result.exit_after_sigterm_s = seconds_since(sigterm_at);
            break;
        }
        if (seconds_since(start) * 1000 > run.timeout_ms) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            result.timed_out = true;
            break;
        }
    }
    if (p.out[0] >= 0)
        drain_rest(p.out[0], result.out);
    drain_rest(p.err[0], result.err);
    result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.term_signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    return result;
}

} // namespace varkon::test
