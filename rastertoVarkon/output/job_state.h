// SPDX-License-Identifier: GPL-2.0-or-later
// Process-wide job state of rastertoVarkon that several modules read or write.
#pragma once

#include <atomic>
#include <cstdint>

// Number of page headers accepted so far; while a page is processed, its 1-based number.
extern int g_page;

// Raised to 1 by the SIGTERM handler, never reset. Atomic so that the handler
// and any helper thread see the same value without a lock.
extern std::atomic<int> Canceled;
static_assert(std::atomic<int>::is_always_lock_free, "Canceled is written from a signal handler");

// The PPD's ModelName, the key of the model table.
extern char gPPDFile[1024];

// Text of the last failure: failing operations put their own text in front of it.
extern char prntLastError[1024];

namespace varkon {

// Puts `text` in front of prntLastError, keeping at most 1023 bytes plus the
// terminator; when both do not fit, the older text is cut at its end.
void prepend_last_error(const char *text);

} // namespace varkon
