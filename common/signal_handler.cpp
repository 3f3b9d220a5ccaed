// SPDX-License-Identifier: GPL-2.0-or-later
// The sigaction call behind install_signal_handler.
#include "signal_handler.h"

#include <signal.h>

namespace varkon {

bool install_signal_handler(int signal, SignalHandler handler, int flags)
{
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = flags;
    return sigaction(signal, &action, nullptr) == 0;
}

} // namespace varkon
