// SPDX-License-Identifier: GPL-2.0-or-later
// printer-strings-languages-supported, given once with each printer's driver
// attributes. PAPPL 1.3.1 itself appends that attribute to the printer's own
// stored attributes on every Get-Printer-Attributes that asks for it (or for
// all), holding only the printer's read lock: each answer then carries one copy
// more than the one before, the printer's attributes grow without end, and two
// such requests at once write to the same list. The appends are dropped here.
#pragma once

#include <pappl/pappl.h>

namespace varkon::app {

// The one language of the strings the system is given (papplSystemAddStringsData).
constexpr const char kStringsLanguage[] = "en";

// Adds printer-strings-languages-supported, kStringsLanguage, to a printer's driver attributes.
void add_strings_languages(ipp_t *attrs);

} // namespace varkon::app
