// SPDX-License-Identifier: GPL-2.0-or-later
// Spawning, ending and reaping a helper program.
#include "child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

extern char **environ;

namespace varkon::app {

namespace {

void close_fd(int &fd)
{
    if (fd >= 0)
        close(fd);
    fd = -1;
}

// The file actions of one spawn, released with it.
struct SpawnActions {
    posix_spawn_file_actions_t actions;
    SpawnActions() { posix_spawn_file_actions_init(&actions); }
    ~SpawnActions() { posix_spawn_file_actions_destroy(&actions); }
    SpawnActions(const SpawnActions &) = delete;
    SpawnActions &operator=(const SpawnActions &) = delete;
};

} // namespace

ChildProcess::~ChildProcess()
{
    close_fd(out_);
    close_fd(err_);
    if (pid_ > 0) {
        terminate();
        wait();
    }
}

bool ChildProcess::start(const std::vector<std::string> &argv, std::string *error)
{
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0) {
        *error = std::strerror(errno);
        return false;
    }
    if (pipe2(err, O_CLOEXEC) != 0) {
        *error = std::strerror(errno);
        close(out[0]);
        close(out[1]);
        return false;
    }
    SpawnActions spawn;
    posix_spawn_file_actions_addopen(&spawn.actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&spawn.actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&spawn.actions, err[1], 2);
    std::vector<char *> args;
    for (const std::string &arg : argv)
        args.push_back(const_cast<char *>(arg.c_str()));
    args.push_back(nullptr);
    const int rc = posix_spawnp(&pid_, args[0], &spawn.actions, nullptr, args.data(), environ);
    close(out[1]);
    close(err[1]);
    out_ = out[0];
    err_ = err[0];
    if (rc != 0) {
        pid_ = -1;
        *error = std::string(argv[0]) + ": " + std::strerror(rc);
        close_fd(out_);
        close_fd(err_);
        return false;
    }
    return true;
}

void ChildProcess::close_output() { close_fd(out_); }

void ChildProcess::terminate()
{
    if (pid_ > 0 && !terminated_) {
        kill(pid_, SIGTERM);
        terminated_ = true;
    }
}

int ChildProcess::wait()
{
    if (pid_ <= 0)
        return -1;
    int status = 0;
    // A terminated child gets two seconds to go before it is killed.
    for (int tries = 0; terminated_ && tries < 20; ++tries) {
        const pid_t done = waitpid(pid_, &status, WNOHANG);
        if (done == pid_ || (done < 0 && errno != EINTR)) {
            pid_ = -1;
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    if (terminated_)
        kill(pid_, SIGKILL);
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::string exit_description(int status)
{
    if (status > 128)
        return "signal " + std::to_string(status - 128);
    return "exit status " + std::to_string(status);
}

} // namespace varkon::app
