// SPDX-License-Identifier: GPL-2.0-or-later
// The output sink. Standard output is written with write(2) on descriptor 1
// and never through stdio: the keep-alive handler writes the same descriptor
// from a signal, and there must be no buffered bytes that its two zero bytes
// could overtake.
#include "output_sink.h"

#include "job_state.h"
#include "write_all.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

int gSendDataToDevice = 1;
std::atomic<int> g_ismiddlepage{1};
int gCollateFile = 0;
int gManualDuplexOddFile = 0;
int gManualDuplexEvenFile = 0;
std::vector<int32_t> gCacheSize;

namespace {

bool g_stream_failed = false;
bool g_spool_failed = false;
int g_stream_errno = 0;
// Bytes in the collation and odd-page spools, and where their pages end.
struct SpoolPages {
    uint64_t bytes = 0;
    std::vector<uint64_t> ends;
    void mark()
    {
        if (ends.empty() || ends.back() != bytes)
            ends.push_back(bytes);
    }
};
SpoolPages g_collate_pages;
SpoolPages g_odd_pages;
varkon::PrinterStreamWriter g_writer = nullptr;
void *g_writer_context = nullptr;

// Result of one spool write: the bytes written, as the sink reports them.
// After a first failure nothing more is spooled: the job end reports it and
// sends neither copies nor back sides, so later writes would only be lost.
size_t spool(int fd, const unsigned char *data, size_t count)
{
    if (g_spool_failed)
        return count;
    const size_t written = varkon::write_all(fd, data, count);
    if (written != count)
        g_spool_failed = true;
    return written;
}

// The last destination decides the result, except that a spool that fails
// under a frame the printer also receives leaves the printer's result: a full
// spool must not cut a page in the printer stream.
size_t spool_result(size_t spooled, size_t count, size_t sentResult)
{
    return (spooled != count && gSendDataToDevice == 1) ? sentResult : spooled;
}

void grow_even_index(size_t entry)
{
    if (gCacheSize.size() <= entry)
        gCacheSize.resize(entry + 1, 0);
}

} // namespace

int SendDataToFile(const unsigned char *pData, size_t count, int bCache)
{
    g_ismiddlepage = 1;
    if (pData == nullptr) {
        std::snprintf(prntLastError, sizeof prntLastError, "%s", "SendDataToFile() :: NULL == pData");
        return 0;
    }
    size_t result = 0;
    if (gSendDataToDevice == 1) {
        const size_t written =
            g_writer != nullptr ? g_writer(pData, count, g_writer_context) : varkon::write_all(1, pData, count);
        if (written != count && !g_stream_failed) {
            g_stream_failed = true;
            g_stream_errno = errno;
        }
        result = (count > 0 && written == count) ? 1 : 0;
    }
    if (gCollateFile != 0 && bCache == 1) {
        const size_t spooled = spool(gCollateFile, pData, count);
        g_collate_pages.bytes += spooled;
        result = spool_result(spooled, count, result);
    }
    if (gManualDuplexOddFile != 0 && g_page % 2 == 1 && bCache == 1) {
        const size_t spooled = spool(gManualDuplexOddFile, pData, count);
        g_odd_pages.bytes += spooled;
        result = spool_result(spooled, count, result);
    }
    if (gManualDuplexEvenFile != 0 && g_page % 2 == 0 && g_page > 0 && bCache == 1) {
        const size_t spooled = spool(gManualDuplexEvenFile, pData, count);
        const size_t entry = static_cast<size_t>(g_page / 2 - 1);
        grow_even_index(entry);
        gCacheSize[entry] += static_cast<int32_t>(spooled);
        result = spool_result(spooled, count, result);
    }
    g_ismiddlepage = 1;
    return result != 0 ? 1 : 0;
}

int Insert00()
{
    static const unsigned char kZeros[2] = {0x00, 0x00};
    if (SendDataToFile(kZeros, sizeof kZeros, 1) == 1)
        return 1;
    varkon::prepend_last_error("Insert00() :: Send 00 00 to file Fail0 ==  \n");
    return 0;
}

void SendDummyCommand(int)
{
    if (g_ismiddlepage.load() != 0)
        return;
    // Only async-signal-safe calls here; errno belongs to the interrupted code.
    const int saved_errno = errno;
    static const char kZeros[2] = {0x00, 0x00};
    ssize_t ignored = write(1, kZeros, sizeof kZeros);
    (void)ignored;
    errno = saved_errno;
}

namespace varkon {

bool printer_stream_failed() { return g_stream_failed; }

int printer_stream_errno() { return g_stream_errno; }

bool spool_write_failed() { return g_spool_failed; }

void reset_sink_failures()
{
    g_stream_failed = false;
    g_spool_failed = false;
    g_stream_errno = 0;
}

void mark_spool_page_end()
{
    g_collate_pages.mark();
    g_odd_pages.mark();
}

const std::vector<uint64_t> &collate_page_ends() { return g_collate_pages.ends; }

const std::vector<uint64_t> &odd_page_ends() { return g_odd_pages.ends; }

void reset_spool_page_ends()
{
    g_collate_pages = SpoolPages{};
    g_odd_pages = SpoolPages{};
}

void redirect_printer_stream(PrinterStreamWriter writer, void *context)
{
    g_writer = writer;
    g_writer_context = context;
}

} // namespace varkon
