// SPDX-License-Identifier: GPL-2.0-or-later
// A network printer for the server's tests: a socket:// device on loopback
// that keeps, connection by connection, every byte the server sent.
#pragma once

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace varkon::test {

// PAPPL keeps a printer's socket open while it has jobs, so one connection may
// carry many.
class StreamSink {
public:
    StreamSink();
    ~StreamSink();
    StreamSink(const StreamSink &) = delete;
    StreamSink &operator=(const StreamSink &) = delete;

    std::string uri() const { return "socket://127.0.0.1:" + std::to_string(port_); }

    // The streams of the connections that have ended since the last call, once
    // none is open; false when one stays open past the deadline.
    bool take(std::vector<std::string> *streams, std::chrono::steady_clock::time_point deadline);

private:
    void accept_all();
    void read_all(int client);

    int fd_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<int> open_{0};
    std::mutex lock_;
    std::vector<std::string> ended_;
    std::thread acceptor_;
    std::vector<std::thread> readers_; // only the acceptor adds to it
};

} // namespace varkon::test
