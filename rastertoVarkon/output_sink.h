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
// bCache 1, to the open spool files. 1 when the last destination accepted them.
int SendDataToFile(const unsigned char *pData, size_t count, int bCache);

// Two zero bytes through the sink, cached. 1 on success.
int Insert00();

// SIGALRM handler: the keep-alive of platforms C and Z.
void SendDummyCommand(int sig);
