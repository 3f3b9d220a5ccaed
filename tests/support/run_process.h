// SPDX-License-Identifier: GPL-2.0-or-later
// Runs a program the way CUPS runs a filter: argument vector, environment,
// standard input, captured standard output and error, exit status, time limit.
#pragma once

#include <string>
#include <vector>

namespace varkon::test {

struct ProcessResult {
    int exit_code = -1;   // exit status, or -1 when it did not exit normally
    int term_signal = 0;  // the signal that ended it, 0 when it exited
    bool timed_out = false;
    std::string out;      // everything written to standard output
    std::string err;      // everything written to standard error
};

struct ProcessOptions {
    std::vector<std::string> env;   // "NAME=value" entries added to (or replacing) the inherited ones
    std::vector<std::string> unset; // names removed from the inherited environment
    std::string stdin_data;         // fed to standard input, which is then closed
    int timeout_ms = 60000;         // killed with SIGKILL after this
    int sigterm_after_ms = -1;      // send SIGTERM after this many ms (cancellation tests)
    std::string cwd;                // working directory, empty for the current one
};

// Runs argv[0] (a path) with exactly the given arguments: no shell is involved.
ProcessResult run_process(const std::vector<std::string> &argv, const ProcessOptions &options = {});

// Path of a program built by this project, e.g. "rastertoVarkon/rastertoVarkon".
std::string built_program(const std::string &relative_path);

// Path of a file in the source tree, e.g. "tests/data/x.ps".
std::string source_file(const std::string &relative_path);

// A fresh private directory under TMPDIR (or /tmp), removed with its contents on destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    const std::string &path() const { return path_; }
    std::string file(const std::string &name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

std::string read_file(const std::string &path);
void write_file(const std::string &path, const std::string &data);

} // namespace varkon::test
