// SPDX-License-Identifier: GPL-2.0-or-later
// Stands in for the backend's end of the CUPS side channel: descriptor 4 of
// this process (and of every filter it starts meanwhile) is one end of a socket
// pair, and a thread answers each request on the other end the way a backend
// would, with a device ID of any bytes and any length, or with a failure,
// at once, after a delay, or never (a queue without a backend).
#pragma once

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

namespace varkon::test {

class SideChannelStandin {
public:
    static constexpr std::chrono::milliseconds kNever{-1};

    // status: the CUPS_SC_STATUS_* value of the answers (1 = OK); delay: how
    // long after each request its answer goes out, or kNever.
    explicit SideChannelStandin(std::string device_id, int status = 1,
                                std::chrono::milliseconds delay = std::chrono::milliseconds(0));
    ~SideChannelStandin();
    SideChannelStandin(const SideChannelStandin &) = delete;
    SideChannelStandin &operator=(const SideChannelStandin &) = delete;

    int requests() const { return requests_.load(); }

private:
    void serve();
    // Sleeps for the delay; false when the stand-in is going away meanwhile.
    bool hold_answer() const;

    std::string device_id_;
    int status_;
    std::chrono::milliseconds delay_;
    int saved_fd4_ = -1;
    int ours_ = -1;
    std::atomic<bool> stop_{false};
    std::atomic<int> requests_{0};
    std::thread server_;
};

} // namespace varkon::test
