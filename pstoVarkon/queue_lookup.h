// SPDX-License-Identifier: GPL-2.0-or-later
// Finding the device behind the job's queue among the local CUPS destinations,
// for the cancel watcher of Jurvex jobs.
#pragma once

#include <cstddef>

// Size of each output field of getPrinter_optiopns, terminator included.
inline constexpr std::size_t kQueueValueField = 256;

// Fills `deviceUri` and `makeAndModel` (zero-filled by the caller, kQueueValueField
// bytes each) from the destination whose "printer-uri-supported" ends in `queue`;
// leaves them unchanged when none does. Always 0.
int getPrinter_optiopns(const char *queue, char *deviceUri, char *makeAndModel);

// Lower-case form of every character of `source` at the same place of `target`;
// writes no terminator, so `target` must be zero-filled and long enough.
void strToLower(const char *source, char *target);
