// SPDX-License-Identifier: GPL-2.0-or-later
// Spool files of a job: created at the job start, replayed at its end, for
// collated copies and for the second pass of manual duplex.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace varkon {

// Block sizes of the two replays.
constexpr size_t kCollateReplayBlock = 16384;
constexpr size_t kOddReplayBlock = 4096;

// A replayed block that standard output refuses this many times in a row ends
// the replay: the backend is gone and resending would spin for ever.
constexpr int kReplayAttempts = 3;

// Creates a spool file with cupsTempFd, puts its name into `name` (255 bytes)
// for the log and unlinks it at once: the open descriptor stays usable and no
// exit path, not even SIGKILL, can leave the file behind. Returns the descriptor
// (never 0, which means "none" to the sink) or -1.
int create_spool_file(char *name);

// The spool descriptors of one job (0: none), made before its first byte is sent.
struct JobSpoolFiles {
    int collate = 0;
    int odd = 0;
    int even = 0;
};

// Creates what the job needs: the collation file, or the two manual-duplex files
// (the collation file is not made for manual duplex, which never replays it).
// Returns 1, or 0 after writing why, with whatever was made closed again.
int create_job_spool_files(bool collate, bool manualDuplex, char *collateName, char *oddName, char *evenName,
                           JobSpoolFiles *files);

// Hands the files to the sink from now on; with manual duplex this also sets
// gSendDataToDevice for page 1.
void use_job_spool_files(const JobSpoolFiles &files);

// Both steps at once. Returns 1, or 0 after writing why.
int open_job_spool_files(bool collate, bool manualDuplex, char *collateName, char *oddName, char *evenName);

// Sends the collation spool `copies` - 1 more times, then closes it. A
// cancellation ends the replay at the next page end. 1 when every block was
// accepted (or the job was cancelled), 0 when the printer stream failed.
int replay_collation(unsigned copies);

// Sends a whole spool file from its start in blocks of `block` bytes. Once the
// job is cancelled, only the rest of the page under way follows: the job end
// comes after a whole page, never inside one. `pageEnds` are the page ends
// marked in the file. True when every block was accepted (or the job was cancelled).
bool replay_file(int fd, size_t block, const std::vector<uint64_t> &pageEnds);

// The even pages of manual duplex from the last one down to page 2, each read
// from its offset in the even spool. True when every block was accepted.
bool replay_even_pages_reversed();

// Closes one spool descriptor and marks it as none.
void close_spool_file(int &fd);

// Closes whatever spool descriptor is still open (every exit path).
void close_spool_files();

} // namespace varkon
