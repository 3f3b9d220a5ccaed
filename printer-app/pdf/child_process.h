// SPDX-License-Identifier: GPL-2.0-or-later
// A program started without a shell (posix_spawnp with an argument list), its
// standard output and error as pipes to us, its standard input /dev/null;
// ended and reaped whatever happens to the job that started it.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace varkon::app {

class ChildProcess {
public:
    ChildProcess() = default;
    ~ChildProcess();
    ChildProcess(const ChildProcess &) = delete;
    ChildProcess &operator=(const ChildProcess &) = delete;

    // Starts argv[0], looked up in PATH. False, with the reason, when it could not be.
    bool start(const std::vector<std::string> &argv, std::string *error);
    int output_fd() const { return out_; }
    int error_fd() const { return err_; }
    // Closes our end of its standard output: a child still writing then stops.
    void close_output();
    // SIGTERM now; SIGKILL if it is still there at wait().
    void terminate();
    // Waits for it: its exit status, or 128 + the signal that ended it.
    int wait();

private:
    pid_t pid_ = -1;
    int out_ = -1;
    int err_ = -1;
    bool terminated_ = false;
};

// "exit status 1", "signal 9": what wait() returned, in words.
std::string exit_description(int status);

} // namespace varkon::app
