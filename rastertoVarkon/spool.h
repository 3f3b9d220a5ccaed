// Spool files of a job: created at the job start, replayed at its end, for
// collated copies and for the second pass of manual duplex.
#pragma once

#include "prnt.h"

#include <cups/raster.h>

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

// The end of a manual-duplex job: message to the user, remaining odd passes,
// the manual-duplex command, the even pages in reverse order with a blank page
// for an odd page count, for every copy. 1 when all was sent.
struct ManualDuplexEnd {
    bool collate = false;
    unsigned copies = 1;
    bool reverse = false;
    const char *message = "";          // the PPD's MDuplex text
    cups_page_header2_t header{};      // the last page's header, for the blank page
    GDI_START_PAGE_PARAM *startPageParam = nullptr;
    int platform = 0;
};
int finish_manual_duplex(const ManualDuplexEnd &job);

// Closes whatever spool descriptor is still open (every exit path).
void close_spool_files();

} // namespace varkon
