// SPDX-License-Identifier: GPL-2.0-or-later
// Runs tests/standins/snmp_agent.py, the stand-in for a printer's SNMP agent,
// on UDP port 161 of a loopback address of its own (127.x.y.z, so that test
// programs running side by side never share an agent), and reads back what
// the agent received.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace varkon::test {

// How the agent answers one job-status query.
struct SnmpStatusReply {
    enum class Kind { None, Short, Record };
    Kind kind = Kind::None;
    int length = 0;            // Short: the size of the answer
    unsigned char status = 0;  // Record: byte 0 of the status record
    std::string owner;         // Record: the owner text from byte 4 (any bytes)

    static SnmpStatusReply none() { return {}; }
    static SnmpStatusReply short_reply(int length) { return {Kind::Short, length, 0, {}}; }
    static SnmpStatusReply record(unsigned char status, std::string owner)
    {
        return {Kind::Record, 0, status, std::move(owner)};
    }
};

struct SnmpAgentConfig {
    unsigned enterprise = 0;                     // the printers' enterprise number
    std::vector<SnmpStatusReply> status_replies; // one per query, the last repeating; empty: never answer
    bool answer_keep_alive = true;
    int lifetime_s = 120;                        // the agent ends itself after this
};

// One datagram as the agent logged it.
struct SnmpDatagramSeen {
    double time = 0;     // CLOCK_MONOTONIC seconds, comparable with monotonic_seconds()
    std::string kind;    // "keepalive", "status" or "unknown"
    std::string verdict; // "exact", "mismatch" or "undecodable"
    std::string hex;     // the datagram's bytes
};

class SnmpAgentStandin {
public:
    explicit SnmpAgentStandin(const SnmpAgentConfig &config);
    ~SnmpAgentStandin();
    SnmpAgentStandin(const SnmpAgentStandin &) = delete;
    SnmpAgentStandin &operator=(const SnmpAgentStandin &) = delete;

    bool running() const { return pid_ > 0; }
    const std::string &error() const { return error_; } // why it did not start
    const std::string &address() const { return address_; }
    std::vector<SnmpDatagramSeen> received() const;

private:
    bool start(const SnmpAgentConfig &config, const std::string &address);

    pid_t pid_ = -1;
    std::string address_;
    std::string log_path_;
    std::string error_;
};

double monotonic_seconds();

// Lower-case hex of a byte string, as the agent logs datagrams.
std::string to_hex(const unsigned char *data, std::size_t size);

} // namespace varkon::test
