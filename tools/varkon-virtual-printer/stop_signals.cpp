// SPDX-License-Identifier: GPL-2.0-or-later
// Latches and the signal descriptor of the printer's stop handling.
#include "stop_signals.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/signalfd.h>

#include <cerrno>

namespace varkon {

Latch::Latch()
{
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) == 0) {
        read_.reset(ends[0]);
        write_.reset(ends[1]);
    }
}

void Latch::fire()
{
    std::call_once(once_, [this] {
        fired_ = true;
        write_.reset();
    });
}

SignalWatch::SignalWatch()
{
    sigset_t mask;
    sigemptyset(&mask);
    sigaddset(&mask, SIGTERM);
    sigaddset(&mask, SIGINT);
    if (pthread_sigmask(SIG_BLOCK, &mask, &old_mask_) != 0)
        return;
    fd_.reset(signalfd(-1, &mask, SFD_CLOEXEC | SFD_NONBLOCK));
}

SignalWatch::~SignalWatch()
{
    fd_.reset();
    pthread_sigmask(SIG_SETMASK, &old_mask_, nullptr);
}

int SignalWatch::take() const
{
    signalfd_siginfo info;
    ssize_t n;
    do
        n = read(fd_.get(), &info, sizeof info);
    while (n < 0 && errno == EINTR);
    return n == static_cast<ssize_t>(sizeof info) ? static_cast<int>(info.ssi_signo) : 0;
}

} // namespace varkon
