// SPDX-License-Identifier: GPL-2.0-or-later
// What the keep-alive thread and the cancel watcher share: owned USB handles
// and sockets, and pauses that a stop can cut short.
//
// How a liaison thread is stopped from outside: both threads run with
// cancellation disabled and open it (deferred, never asynchronous) only while
// they wait in a pause or for a reply datagram. A pthread_cancel therefore
// takes effect at once when the thread waits, and otherwise at its next wait,
// but never inside name resolution, libusb or the allocator, whose locks and
// state an asynchronous stop could leave broken. glibc unwinds a cancelled
// thread's stack, so the RAII owners below still close the socket and the USB
// handle.
#pragma once

#include "unique_fd.h"

#include <libusb.h>
#include <sys/time.h>

#include <atomic>
#include <chrono>
#include <memory>

namespace varkon {

// Closes a handle from FindUsbDeviceHandle, then leaves the default libusb
// context that the lookup entered.
struct UsbPrinterCloser {
    void operator()(libusb_device_handle *handle) const;
};
using UsbPrinter = std::unique_ptr<libusb_device_handle, UsbPrinterCloser>;

// Opens deferred cancellation for the lifetime of the object (see above).
class CancellationWindow {
public:
    CancellationWindow();
    ~CancellationWindow();
    CancellationWindow(const CancellationWindow &) = delete;
    CancellationWindow &operator=(const CancellationWindow &) = delete;

private:
    int previous_state_ = 0;
};

// Sleeps for `duration`, inside a cancellation window. When `stop` is given
// the sleep is cut into short slices and ends early once `stop()` is true.
void pause_thread(std::chrono::milliseconds duration);
template <typename Stop> void pause_thread(std::chrono::milliseconds duration, Stop stop);

// A wait as the timeval of SO_RCVTIMEO.
inline timeval as_timeval(std::chrono::milliseconds wait)
{
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(wait);
    return timeval{static_cast<time_t>(seconds.count()),
                   static_cast<suseconds_t>(std::chrono::microseconds(wait - seconds).count())};
}

// Slices of a pause that ends early: short enough for Waitpthread's join to
// return promptly, long enough to cost nothing.
constexpr std::chrono::milliseconds kPauseSlice{50};

template <typename Stop> void pause_thread(std::chrono::milliseconds duration, Stop stop)
{
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + duration;
    for (auto now = Clock::now(); now < deadline && !stop(); now = Clock::now()) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now);
        pause_thread(left < kPauseSlice ? left : kPauseSlice);
    }
}

} // namespace varkon
