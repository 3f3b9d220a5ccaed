// SPDX-License-Identifier: GPL-2.0-or-later
// The shared signal set-up: the handler stays, runs with the flags given and
// blocks nothing else; a signal that cannot be caught is refused.
#include "signal_handler.h"

#include <gtest/gtest.h>

#include <signal.h>

#include <cerrno>

namespace {

volatile sig_atomic_t g_caught = 0;
void note_signal(int) { g_caught = 1; }

TEST(SignalHandler, TheHandlerRunsWithTheFlagsGivenAndNoSignalBlocked)
{
    ASSERT_TRUE(varkon::install_signal_handler(SIGUSR1, note_signal, SA_RESTART));
    struct sigaction now {};
    ASSERT_EQ(sigaction(SIGUSR1, nullptr, &now), 0);
    EXPECT_EQ(now.sa_handler, note_signal);
    EXPECT_TRUE(now.sa_flags & SA_RESTART);
    EXPECT_FALSE(now.sa_flags & SA_RESETHAND) << "the handler stays for a second signal";
    for (int sig = 1; sig < NSIG; ++sig)
        EXPECT_EQ(sigismember(&now.sa_mask, sig), 0) << "signal " << sig << " blocked in the handler";
    raise(SIGUSR1);
    EXPECT_EQ(g_caught, 1);
    varkon::install_signal_handler(SIGUSR1, SIG_DFL);
}

TEST(SignalHandler, ASignalThatCannotBeCaughtIsRefused)
{
    errno = 0;
    EXPECT_FALSE(varkon::install_signal_handler(SIGKILL, note_signal));
    EXPECT_EQ(errno, EINVAL);
}

} // namespace
