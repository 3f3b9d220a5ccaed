// SPDX-License-Identifier: GPL-2.0-or-later
// The job flow of pstoVarkon: input into a working file, printer family,
// the family's preparation and output writer, cancellation, exit status.
#pragma once

#include <cstddef>

// The working path and the device ID, terminator included.
inline constexpr std::size_t kWorkingPathField = 512;
inline constexpr std::size_t kDeviceIdField = 512;
// The path field that CUPS fills for the copy of standard input.
inline constexpr std::size_t kStdinCopyPathField = 256;

// SIGTERM: the job was cancelled.
void cancel_job(int signal);

// Copies standard input into a new temporary file and puts its path into
// `path` (kStdinCopyPathField bytes); 1 on success, 0 when no file could be made.
int Copy_StdinToTempFile(char *path);

// The printer's IEEE 1284 device ID over the CUPS side channel, waiting at most
// varkon::kDeviceIdWaitSeconds for the backend. `length` offers
// the room in `deviceId` (kDeviceIdField bytes) and returns what was received.
bool query1284info(char *deviceId, int *length);

// The output writer of Halvex jobs: the converted file, cut at a page boundary
// once the job is cancelled.
void WritePrintFileToStdout(const char *path, char **argv);

namespace varkon {

// main() of the filter: returns the exit status.
int run_pstoVarkon(int argc, char **argv);

// Whether the filter makes collated copies itself: the options ask for
// collation ("collate" in any letter case) and nowhere for "noCollate".
bool wants_filter_collation(const char *options);

// Whether the filter made `path` itself: the input file CUPS names as the
// seventh argument is never removed.
bool filter_owns(const char *path, char **argv);

} // namespace varkon
