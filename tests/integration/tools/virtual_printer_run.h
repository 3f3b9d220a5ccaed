// SPDX-License-Identifier: GPL-2.0-or-later
// The virtual printer as the tests run it: started on a free port of
// 127.0.0.1, its report lines read as they come, killed and reaped whatever
// the test does; and the sender's side, a TCP connection that sends a job.
#pragma once

#include "run_process.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace varkon::test {

class VirtualPrinterRun {
public:
    // Starts the printer with `args` and --port 0, and reads its "listening on" line.
    explicit VirtualPrinterRun(const std::vector<std::string> &args) : log_path_(dir_.file("stderr"))
    {
        std::vector<std::string> argv = {built_program("tools/varkon-virtual-printer"), "--port", "0"};
        argv.insert(argv.end(), args.begin(), args.end());
        std::vector<char *> c_argv;
        for (auto &arg : argv)
            c_argv.push_back(arg.data());
        c_argv.push_back(nullptr);
        int out[2];
        if (pipe2(out, O_CLOEXEC) != 0)
            return;
        pid_ = fork();
        if (pid_ == 0) {
            const int err = open(log_path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(out[1], 1);
            dup2(err, 2);
            execv(c_argv[0], c_argv.data());
            _exit(127);
        }
        close(out[1]);
        out_ = out[0];
        const std::string first = next_line();
        const std::string prefix = "listening on 127.0.0.1:";
        if (first.compare(0, prefix.size(), prefix) == 0)
            port_ = std::stoi(first.substr(prefix.size()));
        else
            first_line_ = first;
    }

    ~VirtualPrinterRun()
    {
        if (pid_ > 0 && exit_code_ == kRunning) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (out_ >= 0)
            close(out_);
    }
    VirtualPrinterRun(const VirtualPrinterRun &) = delete;
    VirtualPrinterRun &operator=(const VirtualPrinterRun &) = delete;

    // 0 when it did not start listening; then start_failure() says what it printed.
    int port() const { return port_; }
    std::string start_failure() const { return first_line_ + log(); }

    // The next whole line on standard output, without its newline; empty after
    // `timeout_ms` or at the end of the output.
    std::string next_line(int timeout_ms = 60000)
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
        for (;;) {
            if (const size_t at = buffer_.find('\n'); at != std::string::npos) {
                std::string line = buffer_.substr(0, at);
                buffer_.erase(0, at + 1);
                return line;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                end - std::chrono::steady_clock::now());
            pollfd ready = {out_, POLLIN, 0};
            if (left.count() <= 0 || poll(&ready, 1, static_cast<int>(left.count())) <= 0)
                return {};
            char block[4096];
            const ssize_t n = read(out_, block, sizeof block);
            if (n <= 0)
                return {};
            buffer_.append(block, static_cast<size_t>(n));
        }
    }

    void signal(int number) const { kill(pid_, number); }

    // The exit status, or -1 when it runs on after `timeout_ms` (it is then killed).
    int wait_exit(int timeout_ms = 60000)
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
        while (exit_code_ == kRunning) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_)
                exit_code_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            else if (std::chrono::steady_clock::now() > end)
                return -1;
            else
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return exit_code_;
    }

    std::string log() const { return read_file(log_path_); }

    // Waits until the log holds `text`; false after `timeout_ms`.
    bool wait_for_log(const std::string &text, int timeout_ms = 30000) const
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
        while (log().find(text) == std::string::npos) {
            if (std::chrono::steady_clock::now() > end)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return true;
    }

private:
    static constexpr int kRunning = -1000;
    TempDir dir_;
    std::string log_path_;
    pid_t pid_ = -1;
    int out_ = -1;
    int port_ = 0;
    int exit_code_ = kRunning;
    std::string buffer_;
    std::string first_line_;
};

// A sender's connection to the printer.
class PrinterConnection {
public:
    explicit PrinterConnection(int port) : fd_(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0))
    {
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = htons(static_cast<uint16_t>(port));
        if (fd_ >= 0 && connect(fd_, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
            close(fd_);
            fd_ = -1;
        }
    }
    ~PrinterConnection()
    {
        if (fd_ >= 0)
            close(fd_);
    }
    PrinterConnection(const PrinterConnection &) = delete;
    PrinterConnection &operator=(const PrinterConnection &) = delete;

    bool connected() const { return fd_ >= 0; }

    // False, with errno, once the printer has gone.
    bool send(const std::string &data)
    {
        for (size_t done = 0; done < data.size();) {
            const ssize_t n = ::send(fd_, data.data() + done, data.size() - done, MSG_NOSIGNAL);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return false;
            done += static_cast<size_t>(n);
        }
        return true;
    }

    // Whether the printer ends the connection within `timeout_ms`.
    bool ended_by_printer(int timeout_ms = 10000)
    {
        pollfd ready = {fd_, POLLIN, 0};
        char byte;
        return poll(&ready, 1, timeout_ms) == 1 && recv(fd_, &byte, 1, 0) <= 0;
    }

    // The end of the job, as a sender that waits for the printer signals it.
    void finish() { shutdown(fd_, SHUT_WR); }

    // Gone at once with a reset, as a sender that dies mid-job.
    void reset()
    {
        const linger abort_close = {1, 0};
        setsockopt(fd_, SOL_SOCKET, SO_LINGER, &abort_close, sizeof abort_close);
        close(fd_);
        fd_ = -1;
    }

private:
    int fd_;
};

} // namespace varkon::test
