// SPDX-License-Identifier: GPL-2.0-or-later
// The output sink. The filter's printer stream is written with write(2) on
// descriptor 1 and never through stdio: the keep-alive handler writes the same
// descriptor from a signal, and there must be no buffered bytes that its two
// zero bytes could overtake. A job run without signals has its keep-alive
// thread write through the printer sink under the sink's lock instead.
#include "output_sink.h"

#include "write_all.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

constexpr unsigned char kKeepAliveBytes[2] = {0x00, 0x00};

std::atomic<varkon::JobContext *> g_signal_job{nullptr};
static_assert(std::atomic<varkon::JobContext *>::is_always_lock_free, "the signal job is read by handlers");

// Result of one spool write: the bytes written, as the sink reports them.
// After a first failure nothing more is spooled: the job end reports it and
// sends neither copies nor back sides, so later writes would only be lost.
size_t spool(varkon::JobContext &job, int fd, const unsigned char *data, size_t count)
{
    if (job.spoolFailed)
        return count;
    const size_t written = varkon::write_all(fd, data, count);
    if (written != count)
        job.spoolFailed = true;
    return written;
}

// The last destination decides the result, except that a spool that fails
// under a frame the printer also receives leaves the printer's result: a full
// spool must not cut a page in the printer stream.
size_t spool_result(const varkon::JobContext &job, size_t spooled, size_t count, size_t sentResult)
{
    return (spooled != count && job.gSendDataToDevice == 1) ? sentResult : spooled;
}

void grow_even_index(varkon::JobContext &job, size_t entry)
{
    if (job.gCacheSize.size() <= entry)
        job.gCacheSize.resize(entry + 1, 0);
}

size_t write_printer(varkon::JobContext &job, const unsigned char *data, size_t count)
{
    if (job.printer == nullptr)
        return varkon::write_all(1, data, count);
    if (!job.printerShared)
        return job.printer->write(data, count);
    std::lock_guard<std::mutex> lock(job.printerLock);
    return job.printer->write(data, count);
}

} // namespace

int SendDataToFile(const unsigned char *pData, size_t count, int bCache)
{
    varkon::JobContext &job = varkon::job_context();
    job.g_ismiddlepage = 1;
    if (pData == nullptr) {
        std::snprintf(job.prntLastError, sizeof job.prntLastError, "%s", "SendDataToFile() :: NULL == pData");
        return 0;
    }
    size_t result = 0;
    if (job.gSendDataToDevice == 1) {
        const size_t written = write_printer(job, pData, count);
        if (written != count && !job.printerStreamFailed) {
            job.printerStreamFailed = true;
            job.printerStreamErrno = errno;
        }
        result = (count > 0 && written == count) ? 1 : 0;
    }
    if (job.gCollateFile != 0 && bCache == 1) {
        const size_t spooled = spool(job, job.gCollateFile, pData, count);
        job.collatePages.bytes += spooled;
        result = spool_result(job, spooled, count, result);
    }
    if (job.gManualDuplexOddFile != 0 && job.g_page % 2 == 1 && bCache == 1) {
        const size_t spooled = spool(job, job.gManualDuplexOddFile, pData, count);
        job.oddPages.bytes += spooled;
        result = spool_result(job, spooled, count, result);
    }
    if (job.gManualDuplexEvenFile != 0 && job.g_page % 2 == 0 && job.g_page > 0 && bCache == 1) {
        const size_t spooled = spool(job, job.gManualDuplexEvenFile, pData, count);
        const size_t entry = static_cast<size_t>(job.g_page / 2 - 1);
        grow_even_index(job, entry);
        job.gCacheSize[entry] += static_cast<int32_t>(spooled);
        result = spool_result(job, spooled, count, result);
    }
    job.g_ismiddlepage = 1;
    return result != 0 ? 1 : 0;
}

int Insert00()
{
    if (SendDataToFile(kKeepAliveBytes, sizeof kKeepAliveBytes, 1) == 1)
        return 1;
    varkon::prepend_last_error("Insert00() :: Send 00 00 to file Fail0 ==  \n");
    return 0;
}

void SendDummyCommand(int)
{
    const varkon::JobContext *job = g_signal_job.load();
    if (job == nullptr || job->g_ismiddlepage.load() != 0)
        return;
    // Only async-signal-safe calls here; errno belongs to the interrupted code.
    const int saved_errno = errno;
    ssize_t ignored = write(1, kKeepAliveBytes, sizeof kKeepAliveBytes);
    (void)ignored;
    errno = saved_errno;
}

namespace varkon {

void set_signal_job(JobContext *job) { g_signal_job = job; }

JobContext *signal_job() { return g_signal_job.load(); }

KeepAliveThread::KeepAliveThread(JobContext &job, std::chrono::milliseconds period) : job_(job)
{
    job_.printerShared = true;
    thread_ = std::thread([this, period] { run(period); });
}

KeepAliveThread::~KeepAliveThread()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void KeepAliveThread::run(std::chrono::milliseconds period)
{
    std::unique_lock<std::mutex> lock(mutex_);
    while (!wake_.wait_for(lock, period, [this] { return stopping_; })) {
        // Under the sink's lock, no frame can be under way between the test and the write.
        std::lock_guard<std::mutex> printer(job_.printerLock);
        if (job_.g_ismiddlepage.load() == 0 && job_.printer != nullptr)
            job_.printer->write(kKeepAliveBytes, sizeof kKeepAliveBytes);
    }
}

bool printer_stream_failed() { return job_context().printerStreamFailed; }

int printer_stream_errno() { return job_context().printerStreamErrno; }

bool spool_write_failed() { return job_context().spoolFailed; }

void mark_spool_page_end()
{
    JobContext &job = job_context();
    job.collatePages.mark();
    job.oddPages.mark();
}

const std::vector<uint64_t> &collate_page_ends() { return job_context().collatePages.ends; }

const std::vector<uint64_t> &odd_page_ends() { return job_context().oddPages.ends; }

void reset_spool_page_ends()
{
    JobContext &job = job_context();
    job.collatePages = SpoolPages{};
    job.oddPages = SpoolPages{};
}

} // namespace varkon
