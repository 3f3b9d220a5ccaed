// SPDX-License-Identifier: GPL-2.0-or-later
// How the printer learns it should stop: SIGTERM and SIGINT read from a
// descriptor by the accept loop, and latches that wake every thread blocked on
// a connection at once.
#pragma once

#include "unique_fd.h"

#include <signal.h>

#include <atomic>
#include <mutex>

namespace varkon {

// A pipe whose write end is closed once: from then on poll() finds its read end
// readable, so threads blocked in poll() on a socket wake up without signals.
class Latch {
public:
    Latch();
    Latch(const Latch &) = delete;
    Latch &operator=(const Latch &) = delete;

    bool ok() const { return read_.valid(); }
    int fd() const { return read_.get(); }
    bool fired() const { return fired_.load(); }
    void fire();

private:
    UniqueFd read_, write_;
    std::atomic<bool> fired_{false};
    std::once_flag once_;
};

// Blocks SIGTERM and SIGINT in the calling thread (and the threads it starts
// later) and delivers them through a descriptor; the old mask comes back on
// destruction.
class SignalWatch {
public:
    SignalWatch();
    ~SignalWatch();
    SignalWatch(const SignalWatch &) = delete;
    SignalWatch &operator=(const SignalWatch &) = delete;

    bool ok() const { return fd_.valid(); }
    int fd() const { return fd_.get(); }
    // Reads one pending signal; 0 when none was pending.
    int take() const;

private:
    UniqueFd fd_;
    sigset_t old_mask_;
};

} // namespace varkon
