// SPDX-License-Identifier: GPL-2.0-or-later
// The output writer of every job outside the Halvex family: a plain copy, or
// for Jurvex printers the PostScript rewritten line by line (PJL owner, id and
// A5 lines, page size, collated copies, media-selection repair), with the
// cancel watcher running and a cancelled job cut at the next page boundary.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

// Closes a job cut short: fixed, whatever the job was.
inline constexpr char kJobTrailer[] = "%%Trailer\nend\n%%Pages: 4\n%%BoundingBox: 0 0 595 842\n%%EOF\n"
                                      "\x04\x1b%-12345X\n";
inline constexpr int kJobTrailerSize = sizeof kJobTrailer - 1;
static_assert(kJobTrailerSize == 69, "the trailer of a cut job is 69 bytes");

// Block size of the plain copies.
inline constexpr std::size_t kCopyBlockSize = 8192;

void WritePSdataToStdout(char **argv, const char *workingPath);

// When `block` holds a page start, returns 1 and, if `cancelled`, writes what
// comes before it and the job trailer to standard output, leaves the trailer
// in `block` and sets `*cutLength` to 69. `block` must hold at least
// max(length, kJobTrailerSize + 1) bytes.
int find_pageend(char *block, int length, int *cutLength, int cancelled);

// Rewrites one line (with its line end) in place; 1 when it changed or emptied
// it. `state` is the copy-count flag of the current pass.
int FixPrnPageSize(std::string &line, int width, int height, bool &state);

// Sets `*width` and `*height` to the PPD's size for the job's PageSize option;
// 1 when there was a size to look up, 0 otherwise.
int checkmediasize(char **argv, int ignored, int *width, int *height);

namespace varkon {

// Writes all of `data` to descriptor 1, unbuffered; false on a write error,
// which also marks the printer stream incomplete.
bool write_stdout(const char *data, std::size_t length);

// Whether everything the writers meant for the printer reached standard
// output: no write failed and no job file went unread. The flow's exit status
// rests on it; a new job starts it afresh.
bool printer_stream_complete();
void mark_printer_stream_incomplete();
void begin_printer_stream();

// Copies `file` to standard output in blocks; once the job is cancelled, stops
// at the next page start with the job trailer. A block that cannot be written
// ends the copy (a later block would leave a hole in the stream); it is logged
// when `report_write_errors` is set.
void copy_blocks_to_stdout(std::FILE *file, bool report_write_errors);

// The line procedure's job-name insertion: `inserted` (the owner, id and A5
// lines) follows a line that holds "@PJL JOB NAME". True when it was added.
bool insert_after_job_name(std::string &line, const std::string &inserted);

} // namespace varkon
