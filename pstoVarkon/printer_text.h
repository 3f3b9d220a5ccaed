// SPDX-License-Identifier: GPL-2.0-or-later
// Texts that come from the printer or the network (device IDs, serial numbers,
// SNMP owner texts, resolved host names) are shown in the job log only through
// this filter: CUPS reads every line of a filter's standard error as a message,
// so a line end inside such a text would let the sender forge "PAGE:" or
// "ATTR:" lines.
#pragma once

#include <cstddef>
#include <string>

namespace varkon {

// Longest printer text that goes into one log line.
constexpr std::size_t kLoggedPrinterText = 255;

// At most `max_length` bytes of `text` (fewer when a terminator comes first),
// with every control character (line ends included) replaced by '?'.
std::string loggable_printer_text(const char *text, std::size_t max_length = kLoggedPrinterText);

} // namespace varkon
