// SPDX-License-Identifier: GPL-2.0-or-later
// The read callback under libcups' raster reader, and what it learns about the end
// of the stream.
#include "raster_input.h"

#include "cupsdll.h"
#include "job_state.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iterator>

namespace varkon {

namespace {

// How long a wait for input lasts before the cancellation is looked at again: a
// SIGTERM that lands just before poll() would otherwise go unseen until data come.
constexpr int kPollMilliseconds = 100;

// The sync words of CUPS raster versions 1 to 3, in either byte order.
bool is_cups_raster(const unsigned char sync[4])
{
    static const char *const kWords[] = {"RaSt", "tSaR", "RaS2", "2SaR", "RaS3", "3SaR"};
    return std::any_of(std::begin(kWords), std::end(kWords),
                       [sync](const char *word) { return std::memcmp(sync, word, 4) == 0; });
}

} // namespace

cups_raster_t *RasterInput::open() { return pfcupsRasterOpenIO(read_callback, this, CUPS_RASTER_READ); }

void RasterInput::header_read_starts()
{
    lastRequest_ = 0;
    bytesSinceHeader_ = 0;
    endReached_ = false;
}

bool RasterInput::ended_between_pages() const
{
    if (Canceled != 0)
        return true;
    // With nothing of a header in its buffer, libcups reads a CUPS raster header
    // straight into place: exactly its size. Holding part of one (or other
    // bytes), it asks for the rest, or refills its whole buffer when the rest is
    // small.
    const bool wholeHeaderAsked = syncBytes_ < 4 || !is_cups_raster(sync_) || lastRequest_ == kCupsRasterHeaderBytes;
    return endReached_ && bytesSinceHeader_ == 0 && wholeHeaderAsked;
}

ssize_t RasterInput::read_callback(void *context, unsigned char *buffer, size_t length)
{
    auto *input = static_cast<RasterInput *>(context);
    const ssize_t n = input->data_ != nullptr || input->fd_ < 0 ? input->read_memory(buffer, length)
                                                               : input->read_descriptor(buffer, length);
    input->lastRequest_ = length;
    if (n > 0) {
        input->note_sync_word(buffer, static_cast<size_t>(n));
        input->bytesSinceHeader_ += static_cast<uint64_t>(n);
    } else if (n == 0) {
        input->endReached_ = true;
    }
    return n;
}

ssize_t RasterInput::read_descriptor(unsigned char *buffer, size_t length)
{
    for (;;) {
        if (Canceled != 0)
            return 0;
        pollfd ready = {fd_, POLLIN, 0};
        const int polled = poll(&ready, 1, kPollMilliseconds);
        if (polled == 0 || (polled < 0 && errno == EINTR))
            continue;
        const ssize_t n = read(fd_, buffer, length);
        if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK))
            continue;
        return n;
    }
}

ssize_t RasterInput::read_memory(unsigned char *buffer, size_t length)
{
    const size_t n = std::min(length, size_ - position_);
    if (n > 0)
        std::memcpy(buffer, data_ + position_, n);
    position_ += n;
    return static_cast<ssize_t>(n);
}

void RasterInput::note_sync_word(const unsigned char *buffer, size_t length)
{
    const size_t n = std::min(length, sizeof sync_ - syncBytes_);
    std::memcpy(sync_ + syncBytes_, buffer, n);
    syncBytes_ += n;
}

} // namespace varkon
