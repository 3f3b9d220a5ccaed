// SPDX-License-Identifier: GPL-2.0-or-later
// Child-process runner for the integration tests: fork/exec with pipes and poll.
#include "run_process.h"

#include "signal_handler.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char **environ;

namespace varkon::test {

namespace {

std::vector<std::string> build_environment(const ProcessOptions &options)
{
    std::vector<std::string> env;
    auto overridden = [&](const std::string &entry) {
        const std::string name = entry.substr(0, entry.find('='));
        for (const auto &u : options.unset)
            if (u == name)
                return true;
        for (const auto &e : options.env)
            if (e.substr(0, e.find('=')) == name)
                return true;
        return false;
    };
    for (char **e = environ; *e != nullptr; ++e)
        if (!overridden(*e))
            env.emplace_back(*e);
    env.insert(env.end(), options.env.begin(), options.env.end());
    return env;
}

std::vector<char *> c_strings(std::vector<std::string> &strings)
{
    std::vector<char *> out;
    for (auto &s : strings)
        out.push_back(s.data());
    out.push_back(nullptr);
    return out;
}

void set_nonblocking(int fd) { fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK); }

} // namespace

ProcessResult run_process(const std::vector<std::string> &argv_in, const ProcessOptions &options)
{
    std::vector<std::string> argv = argv_in;
    std::vector<std::string> env = build_environment(options);
    std::vector<char *> c_argv = c_strings(argv);
    std::vector<char *> c_env = c_strings(env);

    // A program that ends before it has read all of its input shows as a
    // failed write below; it must not end the test with SIGPIPE.
    varkon::install_signal_handler(SIGPIPE, SIG_IGN);
    int in_pipe[2], out_pipe[2], err_pipe[2];
    if (pipe2(in_pipe, O_CLOEXEC) != 0 || pipe2(out_pipe, O_CLOEXEC) != 0 || pipe2(err_pipe, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");

    const pid_t pid = fork();
    if (pid < 0)
        throw std::runtime_error("fork failed");
    if (pid == 0) {
        dup2(in_pipe[0], 0);
        dup2(out_pipe[1], 1);
        dup2(err_pipe[1], 2);
        if (!options.cwd.empty() && chdir(options.cwd.c_str()) != 0)
            _exit(126);
        signal(SIGPIPE, SIG_DFL);
        execve(c_argv[0], c_argv.data(), c_env.data());
        _exit(127);
    }
    close(in_pipe[0]);
    close(out_pipe[1]);
    close(err_pipe[1]);
    set_nonblocking(in_pipe[1]);
    set_nonblocking(out_pipe[0]);
    set_nonblocking(err_pipe[0]);

    ProcessResult result;
    size_t written = 0;
    int in_fd = in_pipe[1];
    if (options.stdin_data.empty()) {
        close(in_fd);
        in_fd = -1;
    }
    int out_fd = out_pipe[0], err_fd = err_pipe[0];
    const auto start = std::chrono::steady_clock::now();
    bool term_sent = false;
    auto elapsed_ms = [&] {
        return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
            .count();
    };

    while (out_fd >= 0 || err_fd >= 0) {
        pollfd fds[3];
        int n = 0;
        if (in_fd >= 0)
            fds[n++] = {in_fd, POLLOUT, 0};
        if (out_fd >= 0)
            fds[n++] = {out_fd, POLLIN, 0};
        if (err_fd >= 0)
            fds[n++] = {err_fd, POLLIN, 0};
        poll(fds, n, 50);
        char buf[65536];
        for (int i = 0; i < n; ++i) {
            if (fds[i].revents == 0)
                continue;
            if (fds[i].fd == in_fd) {
                const ssize_t w = write(in_fd, options.stdin_data.data() + written,
                                        options.stdin_data.size() - written);
                if (w > 0)
                    written += static_cast<size_t>(w);
                if ((w < 0 && errno != EAGAIN) || written == options.stdin_data.size()) {
                    close(in_fd);
                    in_fd = -1;
                }
            } else {
                int &fd = (fds[i].fd == out_fd) ? out_fd : err_fd;
                std::string &sink = (fds[i].fd == out_fd) ? result.out : result.err;
                const ssize_t r = read(fd, buf, sizeof buf);
                if (r > 0)
                    sink.append(buf, static_cast<size_t>(r));
                else if (r == 0 || errno != EAGAIN) {
                    close(fd);
                    fd = -1;
                }
            }
        }
        if (!term_sent && options.sigterm_after_ms >= 0 && elapsed_ms() >= options.sigterm_after_ms) {
            kill(pid, SIGTERM);
            term_sent = true;
        }
        if (elapsed_ms() > options.timeout_ms) {
            result.timed_out = true;
            kill(pid, SIGKILL);
            break;
        }
    }
    if (in_fd >= 0)
        close(in_fd);
    if (out_fd >= 0)
        close(out_fd);
    if (err_fd >= 0)
        close(err_fd);

    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status))
        result.exit_code = WEXITSTATUS(status);
    else if (WIFSIGNALED(status))
        result.term_signal = WTERMSIG(status);
    return result;
}

std::string built_program(const std::string &relative_path)
{
    return std::string(VARKON_BINARY_DIR) + "/" + relative_path;
}

std::string source_file(const std::string &relative_path)
{
    return std::string(VARKON_SOURCE_DIR) + "/" + relative_path;
}

TempDir::TempDir()
{
    const char *base = std::getenv("TMPDIR");
    std::string templ = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/varkon-test-XXXXXX";
    if (mkdtemp(templ.data()) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    path_ = templ;
}

TempDir::~TempDir()
{
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

std::string read_file(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void write_file(const std::string &path, const std::string &data)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(data.data(), static_cast<std::streamsize>(data.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

} // namespace varkon::test
