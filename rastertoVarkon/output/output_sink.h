// SPDX-License-Identifier: GPL-2.0-or-later
// The output sink: the one path by which printer data reaches standard output,
// with the spool files for collated copies and manual duplex.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

// 1: data goes to standard output; 0: data is only spooled (even pages of manual duplex).
extern int gSendDataToDevice;

// 1 while a command sequence or page is being produced. The keep-alive handler
// writes only while it is 0, so its bytes never land inside a frame.
extern std::atomic<int> g_ismiddlepage;
static_assert(std::atomic<int>::is_always_lock_free, "g_ismiddlepage is read from a signal handler");

// Spool file descriptors; 0 means none.
extern int gCollateFile;
extern int gManualDuplexOddFile;
extern int gManualDuplexEvenFile;

// Byte length of each even page in the even spool file: entry k holds page 2(k+1).
// It grows with the job, so manual duplex has no page limit of its own.
extern std::vector<int32_t> gCacheSize;

// Sends `count` bytes to the printer (when gSendDataToDevice is 1) and, with
// bCache 1, to the open spool files. 1 when the last destination accepted them;
// 0 for absent data (with prntLastError set) and for a zero-length write.
int SendDataToFile(const unsigned char *pData, size_t count, int bCache);

// Two zero bytes through the sink, cached. 1 on success.
int Insert00();

// SIGALRM handler: the keep-alive of platforms C and Z. Writes two zero bytes
// straight to descriptor 1 (never spooled) when g_ismiddlepage is 0.
void SendDummyCommand(int sig);

namespace varkon {

// Sticky failure flags of the job: a write to standard output came up short
// (the backend is gone, the disk is full), or a spool file lost bytes.
bool printer_stream_failed();
int printer_stream_errno(); // errno of the first short write to standard output
bool spool_write_failed();
void reset_sink_failures(); // for tests that run several jobs in one process

// Marks the end of a page in the collation and odd-page spools, so that a
// replay that is cancelled still ends its page. Called after each page end.
void mark_spool_page_end();
// The page ends marked in the collation spool and in the odd-page spool, in
// bytes from the start of the file; cleared when a job's spool files are set up.
const std::vector<uint64_t> &collate_page_ends();
const std::vector<uint64_t> &odd_page_ends();
void reset_spool_page_ends();

// Takes the printer stream in place of descriptor 1, for jobs run inside a test
// or fuzzing process. Returns the bytes it accepted; fewer count as a failed
// write, with errno as the writer leaves it.
using PrinterStreamWriter = size_t (*)(const unsigned char *data, size_t count, void *context);
// nullptr sends the printer stream to descriptor 1 again.
void redirect_printer_stream(PrinterStreamWriter writer, void *context);

} // namespace varkon
