// SPDX-License-Identifier: GPL-2.0-or-later
// The read callback under libcups' raster reader, and what it learns about the
// stream: where it ended, and page headers too large to hand to libcups.
#include "raster_input.h"

#include "cupsdll.h"
#include "raster_fields.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>

namespace varkon {

namespace {

// How long a wait for input lasts before the cancellation is looked at again: a
// SIGTERM that lands just before poll() would otherwise go unseen until data come.
constexpr int kPollMilliseconds = 100;
// libcups refills its buffer of a compressed stream with requests of this size
// or more. Where the end of the page is not known, they are answered one byte
// at a time: slow, but the next page header still comes through a request of
// its own.
constexpr size_t kRefillRequest = 65536;
constexpr size_t kReadAhead = 65536;
constexpr unsigned char kClearToLineEnd = 128;

// The 81 words libcups swaps in a header of the other byte order: from
// AdvanceDistance up to the texts at the end.
constexpr size_t kFirstWord = offsetof(cups_page_header2_t, AdvanceDistance);
constexpr size_t kWordsEnd = offsetof(cups_page_header2_t, cupsString);
static_assert(sizeof(cups_page_header2_t) == kCupsRasterHeaderBytes, "CUPS raster headers have 1796 bytes");
static_assert((kWordsEnd - kFirstWord) / 4 == 81, "libcups swaps 81 header words");

constexpr uint32_t kSyncWords[] = {CUPS_RASTER_SYNCv1, CUPS_RASTER_SYNCv2, CUPS_RASTER_SYNC};
constexpr uint32_t kSwappedSyncWords[] = {CUPS_RASTER_REVSYNCv1, CUPS_RASTER_REVSYNCv2, CUPS_RASTER_REVSYNC};

uint32_t sync_word(const unsigned char sync[4])
{
    uint32_t word;
    std::memcpy(&word, sync, sizeof word);
    return word;
}

bool is_one_of(uint32_t word, const uint32_t (&words)[3])
{
    return std::find(std::begin(words), std::end(words), word) != std::end(words);
}

// The sync words of CUPS raster versions 1 to 3, in either byte order.
bool is_cups_raster(const unsigned char sync[4])
{
    const uint32_t word = sync_word(sync);
    return is_one_of(word, kSyncWords) || is_one_of(word, kSwappedSyncWords);
}

} // namespace

bool libcups_accepts(const cups_page_header2_t &h)
{
    const unsigned bytesPerPixel = (h.cupsBitsPerPixel + 7) / 8;
    return h.cupsHeight != 0 && h.cupsBytesPerLine != 0 && h.cupsBytesPerLine < 0x80000000u &&
           h.cupsBitsPerColor >= 1 && h.cupsBitsPerColor <= 16 && h.cupsBitsPerPixel >= 1 &&
           h.cupsBitsPerPixel <= 240 && h.cupsBytesPerLine % bytesPerPixel == 0;
}

void CompressedPageScan::start(const cups_page_header2_t &header)
{
    if (field_value(header.cupsColorOrder) != CUPS_ORDER_CHUNKED || header.cupsHeight == 0 ||
        header.cupsBytesPerLine == 0) {
        stop();
        return;
    }
    linesLeft_ = header.cupsHeight;
    bytesPerLine_ = header.cupsBytesPerLine;
    bytesPerPixel_ = std::max(1u, (header.cupsBitsPerPixel + 7) / 8);
    lineLeft_ = 0;
    runLeft_ = 0;
    next_ = Next::LineRepeat;
}

void CompressedPageScan::run_done()
{
    if (lineLeft_ > 0)
        next_ = Next::RunCount;
    else
        next_ = linesLeft_ > 0 ? Next::LineRepeat : Next::Nothing;
}

// Runs of one-byte pixels that end inside the line and lie whole in the data,
// the bulk of a page, passed over without the state machine.
size_t CompressedPageScan::skip_whole_runs(const unsigned char *data, size_t at, size_t size)
{
    constexpr size_t kLongestRun = 1 + 128;
    while (size - at >= kLongestRun) {
        const unsigned count = data[at];
        if (count == kClearToLineEnd)
            break;
        const bool literal = count > kClearToLineEnd;
        const uint64_t run = literal ? 257 - count : count + 1;
        if (run >= lineLeft_)
            break;
        lineLeft_ -= run;
        at += literal ? 1 + run : 2;
    }
    return at;
}

size_t CompressedPageScan::take(const unsigned char *data, size_t size)
{
    size_t at = 0;
    while (at < size) {
        switch (next_) {
        case Next::Unknown:
            return size;
        case Next::Nothing:
            return at;
        case Next::LineRepeat: {
            // One line follows; the rest of the group repeats it without bytes.
            const uint64_t lines = uint64_t{data[at++]} + 1;
            linesLeft_ -= std::min(lines, linesLeft_);
            lineLeft_ = bytesPerLine_;
            next_ = Next::RunCount;
            break;
        }
        case Next::RunCount: {
            if (bytesPerPixel_ == 1)
                at = skip_whole_runs(data, at, size);
            if (at == size)
                break;
            const unsigned count = data[at++];
            if (count == kClearToLineEnd) {
                lineLeft_ = 0;
            } else if (count > kClearToLineEnd) {
                runLeft_ = std::min<uint64_t>((257 - count) * bytesPerPixel_, lineLeft_);
                lineLeft_ -= runLeft_;
            } else {
                const uint64_t run = std::min<uint64_t>((count + 1) * bytesPerPixel_, lineLeft_);
                if (run < bytesPerPixel_) {
                    // libcups gives up on the rest of such a line.
                    lineLeft_ = 0;
                } else {
                    lineLeft_ -= run;
                    runLeft_ = bytesPerPixel_;
                }
            }
            if (runLeft_ > 0)
                next_ = Next::RunBytes;
            else
                run_done();
            break;
        }
        case Next::RunBytes: {
            const uint64_t n = std::min<uint64_t>(runLeft_, size - at);
            at += n;
            runLeft_ -= n;
            if (runLeft_ == 0)
                run_done();
            break;
        }
        }
    }
    return at;
}

bool decode_raw_header(const unsigned char sync[4], const unsigned char (&raw)[kCupsRasterHeaderBytes],
                       cups_page_header2_t *header)
{
    if (!is_cups_raster(sync))
        return false;
    unsigned char bytes[kCupsRasterHeaderBytes];
    std::memcpy(bytes, raw, sizeof bytes);
    if (is_one_of(sync_word(sync), kSwappedSyncWords))
        for (size_t at = kFirstWord; at < kWordsEnd; at += 4) {
            std::swap(bytes[at], bytes[at + 3]);
            std::swap(bytes[at + 1], bytes[at + 2]);
        }
    std::memcpy(header, bytes, sizeof bytes);
    return true;
}

RasterInput::RasterInput(int fd, const std::atomic<int> &canceled, const PageLimits &limits)
    : fd_(fd), canceled_(canceled), limits_(limits)
{
}

RasterInput::RasterInput(const unsigned char *data, size_t size, const std::atomic<int> &canceled,
                         const PageLimits &limits)
    : data_(data), size_(size), canceled_(canceled), limits_(limits)
{
}

cups_raster_t *RasterInput::open() { return pfcupsRasterOpenIO(read_callback, this, CUPS_RASTER_READ); }

void RasterInput::header_read_starts()
{
    headerExpected_ = true;
    lastRequest_ = 0;
    bytesSinceHeader_ = 0;
    endReached_ = false;
}

bool RasterInput::ended_between_pages() const
{
    if (canceled_ != 0)
        return true;
    // With nothing of a header in its buffer, libcups reads a CUPS raster header
    // straight into place: exactly its size. Holding part of one (or other
    // bytes), it asks for the rest, or refills its whole buffer when the rest is
    // small.
    const bool wholeHeaderAsked = syncBytes_ < 4 || !is_cups_raster(sync_) || lastRequest_ == kCupsRasterHeaderBytes;
    return endReached_ && bytesSinceHeader_ == 0 && wholeHeaderAsked;
}

bool RasterInput::compressed_stream() const
{
    const uint32_t word = sync_word(sync_);
    return syncBytes_ == 4 && (word == CUPS_RASTER_SYNCv2 || word == CUPS_RASTER_REVSYNCv2);
}

ssize_t RasterInput::read_callback(void *context, unsigned char *buffer, size_t length)
{
    auto *input = static_cast<RasterInput *>(context);
    const bool header = input->headerExpected_ && length == kCupsRasterHeaderBytes && input->syncBytes_ == 4 &&
                        is_cups_raster(input->sync_);
    input->headerExpected_ = false;
    ssize_t n;
    if (header)
        n = input->read_header(buffer, length);
    else if (input->compressed_stream())
        n = input->read_page_data(buffer, length);
    else
        n = input->read_some(buffer, length);
    input->lastRequest_ = length;
    if (n > 0) {
        input->note_sync_word(buffer, static_cast<size_t>(n));
        input->bytesSinceHeader_ += static_cast<uint64_t>(n);
    } else if (n == 0) {
        input->endReached_ = true;
    }
    return n;
}

// A whole header, then held back from libcups when its lines exceed the cap:
// libcups would allocate a line of that size (up to 2 GiB) before the job loop
// could refuse the page. The job loop refuses it with the same words instead.
ssize_t RasterInput::read_header(unsigned char *buffer, size_t length)
{
    size_t got = 0;
    while (got < length) {
        const ssize_t n = read_some(buffer + got, length - got);
        if (n <= 0)
            return got > 0 ? static_cast<ssize_t>(got) : n;
        got += static_cast<size_t>(n);
    }
    unsigned char raw[kCupsRasterHeaderBytes];
    std::memcpy(raw, buffer, sizeof raw);
    cups_page_header2_t header;
    if (decode_raw_header(sync_, raw, &header) && libcups_accepts(header) &&
        header.cupsBytesPerLine > limits_.maxRasterLineBytes) {
        refused_ = true;
        refusedHeader_ = header;
        scan_.stop();
        return 0;
    }
    if (compressed_stream() && decode_raw_header(sync_, raw, &header))
        scan_.start(header);
    else
        scan_.stop();
    return static_cast<ssize_t>(got);
}

// Compressed lines, up to the end of the page where that is known.
ssize_t RasterInput::read_page_data(unsigned char *buffer, size_t length)
{
    const auto page_part = [&](const unsigned char *next, size_t n) {
        if (scan_.known() && !scan_.ended())
            return scan_.take(next, n);
        return length >= kRefillRequest ? size_t{1} : n;
    };
    if (fd_ >= 0 && data_ == nullptr && aheadStart_ == ahead_.size()) {
        // Read in place; what lies beyond the page waits in the read ahead.
        const ssize_t got = read_descriptor(buffer, length);
        if (got <= 0)
            return got;
        const size_t n = page_part(buffer, static_cast<size_t>(got));
        ahead_.assign(buffer + n, buffer + got);
        aheadStart_ = 0;
        return static_cast<ssize_t>(n);
    }
    const unsigned char *next = nullptr;
    const ssize_t available = peek(&next);
    if (available <= 0)
        return available;
    const size_t n = page_part(next, std::min(length, static_cast<size_t>(available)));
    std::memcpy(buffer, next, n);
    skip(n);
    return static_cast<ssize_t>(n);
}

// The next bytes of the input, left in place: the rest of the memory, or of
// the read ahead, read anew from the descriptor when it is used up.
ssize_t RasterInput::peek(const unsigned char **next)
{
    if (data_ != nullptr || fd_ < 0) {
        *next = data_ + position_;
        return static_cast<ssize_t>(size_ - position_);
    }
    if (aheadStart_ == ahead_.size()) {
        ahead_.resize(kReadAhead);
        const ssize_t n = read_descriptor(ahead_.data(), ahead_.size());
        ahead_.resize(n > 0 ? static_cast<size_t>(n) : 0);
        aheadStart_ = 0;
        if (n <= 0)
            return n;
    }
    *next = ahead_.data() + aheadStart_;
    return static_cast<ssize_t>(ahead_.size() - aheadStart_);
}

void RasterInput::skip(size_t n)
{
    if (data_ != nullptr || fd_ < 0)
        position_ += n;
    else
        aheadStart_ += n;
}

ssize_t RasterInput::read_some(unsigned char *buffer, size_t length)
{
    if (data_ != nullptr || fd_ < 0)
        return read_memory(buffer, length);
    if (aheadStart_ < ahead_.size()) {
        const size_t n = std::min(length, ahead_.size() - aheadStart_);
        std::memcpy(buffer, ahead_.data() + aheadStart_, n);
        aheadStart_ += n;
        return static_cast<ssize_t>(n);
    }
    return read_descriptor(buffer, length);
}

ssize_t RasterInput::read_descriptor(unsigned char *buffer, size_t length)
{
    for (;;) {
        if (canceled_ != 0)
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
