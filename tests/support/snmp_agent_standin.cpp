// SPDX-License-Identifier: GPL-2.0-or-later
// Starting, reading and stopping the SNMP agent stand-in.
#include "snmp_agent_standin.h"
#include "run_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <fstream>
#include <random>
#include <sstream>

namespace varkon::test {

namespace {

constexpr int kAddressInUse = 3;
constexpr int kStartAttempts = 8;
constexpr int kReadyTimeoutMs = 15000;

std::string replies_json(const std::vector<SnmpStatusReply> &replies)
{
    std::ostringstream json;
    json << '[';
    for (std::size_t i = 0; i < replies.size(); ++i) {
        const auto &r = replies[i];
        json << (i ? "," : "");
        switch (r.kind) {
        case SnmpStatusReply::Kind::None: json << R"({"kind":"none"})"; break;
        case SnmpStatusReply::Kind::Short: json << R"({"kind":"short","length":)" << r.length << '}'; break;
        case SnmpStatusReply::Kind::Record:
            json << R"({"kind":"record","status":)" << int(r.status) << R"(,"owner_hex":")"
                 << to_hex(reinterpret_cast<const unsigned char *>(r.owner.data()), r.owner.size())
                 << "\"}";
            break;
        }
    }
    json << ']';
    return json.str();
}

std::string random_loopback_address()
{
    static std::mt19937 random{std::random_device{}()};
    std::uniform_int_distribution<int> octet(2, 254);
    return "127." + std::to_string(octet(random)) + "." + std::to_string(octet(random)) + "."
           + std::to_string(octet(random));
}

// Waits for the agent's "ready" line; false when it exited or stayed silent.
bool wait_until_ready(int fd)
{
    std::string seen;
    for (int waited = 0; waited < kReadyTimeoutMs; waited += 100) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 100) <= 0)
            continue;
        char buf[64];
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n <= 0)
            return false;
        seen.append(buf, static_cast<std::size_t>(n));
        if (seen.find("ready\n") != std::string::npos)
            return true;
    }
    return false;
}

} // namespace

double monotonic_seconds()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

std::string to_hex(const unsigned char *data, std::size_t size)
{
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (std::size_t i = 0; i < size; ++i) {
        hex += digits[data[i] >> 4];
        hex += digits[data[i] & 0x0F];
    }
    return hex;
}

SnmpAgentStandin::SnmpAgentStandin(const SnmpAgentConfig &config)
{
    for (int attempt = 0; attempt < kStartAttempts && pid_ <= 0; ++attempt)
        if (!start(config, random_loopback_address()) && error_.find("in use") == std::string::npos)
            break;
}

bool SnmpAgentStandin::start(const SnmpAgentConfig &config, const std::string &address)
{
    char log_template[] = "/tmp/varkon-snmp-agent-XXXXXX";
    const int log_fd = mkstemp(log_template);
    if (log_fd < 0) {
        error_ = "no log file";
        return false;
    }
    close(log_fd);
    std::vector<std::string> args = {"/usr/bin/python3",
                                     source_file("tests/standins/snmp_agent.py"),
                                     "--address", address,
                                     "--log", log_template,
                                     "--enterprise", std::to_string(config.enterprise),
                                     "--status-replies", replies_json(config.status_replies),
                                     "--lifetime", std::to_string(config.lifetime_s)};
    if (!config.answer_keep_alive)
        args.emplace_back("--no-keepalive-reply");
    std::vector<char *> argv;
    for (auto &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    int ready[2];
    if (pipe2(ready, O_CLOEXEC) != 0) {
        error_ = "no pipe";
        unlink(log_template);
        return false;
    }
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(ready[1], 1);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(ready[1]);
    const bool up = pid > 0 && wait_until_ready(ready[0]);
    close(ready[0]);
    if (up) {
        pid_ = pid;
        address_ = address;
        log_path_ = log_template;
        return true;
    }
    int status = 0;
    if (pid > 0) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
    }
    unlink(log_template);
    error_ = WIFEXITED(status) && WEXITSTATUS(status) == kAddressInUse ? "address in use"
                                                                       : "agent did not start on " + address;
    return false;
}

SnmpAgentStandin::~SnmpAgentStandin()
{
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
    if (!log_path_.empty())
        unlink(log_path_.c_str());
}

std::vector<SnmpDatagramSeen> SnmpAgentStandin::received() const
{
    std::vector<SnmpDatagramSeen> seen;
    std::ifstream log(log_path_);
    SnmpDatagramSeen entry;
    while (log >> entry.time >> entry.kind >> entry.verdict >> entry.hex)
        seen.push_back(entry);
    return seen;
}

} // namespace varkon::test
