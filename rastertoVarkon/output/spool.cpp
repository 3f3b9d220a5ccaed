// SPDX-License-Identifier: GPL-2.0-or-later
// Spool files and their replays through the output sink.
#include "spool.h"

#include "cupsdll.h"
#include "job_context.h"
#include "output_sink.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <utility>
#include <vector>

namespace varkon {

namespace {

// One block of a replay, resent a bounded number of times.
bool send_replay_block(const unsigned char *data, size_t count)
{
    for (int attempt = 0; attempt < kReplayAttempts; ++attempt)
        if (SendDataToFile(data, count, 0) == 1)
            return true;
    return false;
}

// Reads `length` bytes at `offset` of a spool file, retrying interrupted and short reads.
bool read_spool(int fd, unsigned char *data, size_t length, off_t offset)
{
    size_t done = 0;
    while (done < length) {
        const ssize_t n = pread(fd, data + done, length - done, offset + static_cast<off_t>(done));
        if (n > 0)
            done += static_cast<size_t>(n);
        else if (n < 0 && errno == EINTR)
            continue;
        else
            return false;
    }
    return true;
}

} // namespace

void close_spool_file(int &fd)
{
    if (fd > 0)
        close(fd);
    fd = 0;
}

bool replay_file(int fd, size_t block, const std::vector<uint64_t> &pageEnds)
{
    const JobContext &job = job_context();
    std::vector<unsigned char> buffer(block);
    uint64_t offset = 0;
    for (;;) {
        uint64_t limit = UINT64_MAX;
        if (job.Canceled != 0) {
            const auto next = std::lower_bound(pageEnds.begin(), pageEnds.end(), offset);
            if (offset == 0 || next == pageEnds.end() || *next == offset)
                return true;
            limit = *next;
        }
        const size_t want = static_cast<size_t>(std::min<uint64_t>(block, limit - offset));
        const ssize_t n = pread(fd, buffer.data(), want, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n == 0;
        if (!send_replay_block(buffer.data(), static_cast<size_t>(n)))
            return false;
        offset += static_cast<uint64_t>(n);
    }
}

namespace {

int32_t even_page_length(const JobContext &job, size_t entry)
{
    return entry < job.gCacheSize.size() ? job.gCacheSize[entry] : 0;
}

} // namespace

bool replay_even_pages_reversed()
{
    const JobContext &job = job_context();
    const size_t evenPages = static_cast<size_t>(job.g_page / 2);
    std::vector<off_t> offsets(evenPages + 1, 0);
    for (size_t k = 0; k < evenPages; ++k)
        offsets[k + 1] = offsets[k] + even_page_length(job, k);
    std::vector<unsigned char> buffer(kCollateReplayBlock);
    for (size_t k = evenPages; k-- > 0 && job.Canceled == 0;) {
        for (off_t at = offsets[k]; at < offsets[k + 1];) {
            const size_t chunk = static_cast<size_t>(std::min<off_t>(offsets[k + 1] - at, buffer.size()));
            if (!read_spool(job.gManualDuplexEvenFile, buffer.data(), chunk, at) ||
                !send_replay_block(buffer.data(), chunk))
                return false;
            at += static_cast<off_t>(chunk);
        }
    }
    return true;
}

int create_spool_file(char *name)
{
    int fd = pfcupsTempFd(name, 255);
    if (fd < 0)
        return -1;
    unlink(name);
    job_logf("DEBUG: Spool file %s (already unlinked)\n", name);
    if (fd == 0) { // 0 means "no spool file" to the sink
        const int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
        close(fd);
        fd = moved;
    }
    return fd;
}

int create_job_spool_files(bool collate, bool manualDuplex, char *collateName, char *oddName, char *evenName,
                           JobSpoolFiles *files)
{
    *files = JobSpoolFiles{};
    if (collate && !manualDuplex) {
        files->collate = create_spool_file(collateName);
        if (files->collate < 0) {
            files->collate = 0;
            job_log("ERROR: Unable to create the spool file for collated copies\n");
            return 0;
        }
    }
    if (manualDuplex) {
        for (auto [name, slot] : {std::pair{oddName, &files->odd}, {evenName, &files->even}}) {
            const int fd = create_spool_file(name);
            if (fd < 0) {
                job_logf("%s file open fail\n", name);
                job_log("ERROR: Unable to create the spool files for manual duplex\n");
                close_spool_file(files->odd);
                return 0;
            }
            *slot = fd;
        }
    }
    return 1;
}

void use_job_spool_files(const JobSpoolFiles &files)
{
    reset_spool_page_ends();
    JobContext &job = job_context();
    job.gCollateFile = files.collate;
    job.gManualDuplexOddFile = files.odd;
    job.gManualDuplexEvenFile = files.even;
    if (files.odd != 0)
        job.gSendDataToDevice = (job.g_page % 2 == 1) ? 1 : 0;
}

int open_job_spool_files(bool collate, bool manualDuplex, char *collateName, char *oddName, char *evenName)
{
    JobSpoolFiles files;
    if (create_job_spool_files(collate, manualDuplex, collateName, oddName, evenName, &files) == 0)
        return 0;
    use_job_spool_files(files);
    return 1;
}

int replay_collation(unsigned copies)
{
    JobContext &job = job_context();
    bool ok = true;
    for (unsigned copy = 1; copy < copies && job.Canceled == 0 && ok; ++copy)
        ok = replay_file(job.gCollateFile, kCollateReplayBlock, collate_page_ends());
    close_spool_file(job.gCollateFile);
    return ok ? 1 : 0;
}

void close_spool_files()
{
    JobContext &job = job_context();
    close_spool_file(job.gCollateFile);
    close_spool_file(job.gManualDuplexOddFile);
    close_spool_file(job.gManualDuplexEvenFile);
}

} // namespace varkon
