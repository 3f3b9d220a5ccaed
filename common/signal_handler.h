// SPDX-License-Identifier: GPL-2.0-or-later
// Setting a signal's disposition the one way the programs need: a handler (or
// SIG_IGN, SIG_DFL) with no other signal blocked while it runs.
#pragma once

namespace varkon {

using SignalHandler = void (*)(int);

// Installs `handler` for `signal` with sigaction `flags` (SA_RESTART, ...).
// False, with errno set, when the signal cannot be caught or ignored.
bool install_signal_handler(int signal, SignalHandler handler, int flags = 0);

} // namespace varkon
