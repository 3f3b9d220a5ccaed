// SPDX-License-Identifier: GPL-2.0-or-later
// The job's raster as libcups reads it, through the filter's own read callback:
// from the input descriptor, or from memory for jobs run inside a test or
// fuzzing process. Reading for libcups lets a cancelled job stop waiting for
// input that may never come; shows whether a stream that yields no further
// page header ended between pages or inside a header (or in bytes that are no
// page at all), which must not pass for the end of the job; and lets a page
// header be checked before libcups sizes its buffers from it.
#pragma once

#include "page_geometry.h"

#include <cups/raster.h>

#include <sys/types.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace varkon {

// Page header bytes of a CUPS raster stream (versions 1 to 3) after the sync word.
constexpr size_t kCupsRasterHeaderBytes = 1796;

// The numeric fields of a header as the stream carries them, in the stream's
// byte order, decoded the way libcups decodes them. False when `sync` is no
// CUPS raster sync word.
bool decode_raw_header(const unsigned char sync[4], const unsigned char (&raw)[kCupsRasterHeaderBytes],
                       cups_page_header2_t *header);

// What libcups itself accepts of a header; anything else it refuses without allocating.
bool libcups_accepts(const cups_page_header2_t &header);

// Where the compressed lines of one page end, found by reading them as libcups
// does (a line repeat byte, then runs: 0-127 repeat one pixel, 129-255 copy
// pixels literally, 128 clears the rest of the line). libcups refills its
// buffer with whatever the read callback gives; given nothing beyond the page,
// it never holds the next page header, which must come to the callback first.
class CompressedPageScan {
public:
    // A page of `header` starts. Only pixels in chunked order are followed;
    // for any other layout the scan knows nothing.
    void start(const cups_page_header2_t &header);
    // Nothing known about the bytes to come.
    void stop() { next_ = Next::Unknown; }
    bool known() const { return next_ != Next::Unknown; }
    // All of the page's lines have been taken.
    bool ended() const { return next_ == Next::Nothing; }
    // How many of the `size` bytes at `data`, the next of the stream, still
    // belong to the page; the scan moves past them.
    size_t take(const unsigned char *data, size_t size);

private:
    enum class Next { Unknown, Nothing, LineRepeat, RunCount, RunBytes };
    void run_done();
    size_t skip_whole_runs(const unsigned char *data, size_t at, size_t size);

    Next next_ = Next::Unknown;
    uint64_t linesLeft_ = 0;
    uint64_t bytesPerLine_ = 0;
    uint64_t bytesPerPixel_ = 1;
    uint64_t lineLeft_ = 0;
    uint64_t runLeft_ = 0;
};

class RasterInput {
public:
    // Reads descriptor `fd`, stopping once `canceled` is raised.
    RasterInput(int fd, const std::atomic<int> &canceled, const PageLimits &limits);
    // Reads `size` bytes at `data`, which must stay in place while the stream is open.
    RasterInput(const unsigned char *data, size_t size, const std::atomic<int> &canceled, const PageLimits &limits);
    RasterInput(const RasterInput &) = delete;
    RasterInput &operator=(const RasterInput &) = delete;

    // Opens the raster stream through the bound CUPS functions; nullptr when the
    // input holds no raster stream.
    cups_raster_t *open();

    // Marks the start of a page header read.
    void header_read_starts();
    // After a header read that failed: whether the input ended cleanly where a
    // page header would have begun, or the job was cancelled.
    bool ended_between_pages() const;
    // After a header read that failed: the header was held back from libcups,
    // since its lines are larger than a page may have (libcups would have
    // allocated one of them first). The header as the stream gave it.
    const cups_page_header2_t *refused_header() const { return refused_ ? &refusedHeader_ : nullptr; }
    // The caps that header was held against.
    const PageLimits &limits() const { return limits_; }

private:
    static ssize_t read_callback(void *context, unsigned char *buffer, size_t length);
    ssize_t read_some(unsigned char *buffer, size_t length);
    ssize_t read_descriptor(unsigned char *buffer, size_t length);
    ssize_t read_memory(unsigned char *buffer, size_t length);
    ssize_t read_header(unsigned char *buffer, size_t length);
    ssize_t read_page_data(unsigned char *buffer, size_t length);
    ssize_t peek(const unsigned char **next);
    void skip(size_t n);
    bool compressed_stream() const;
    void note_sync_word(const unsigned char *buffer, size_t length);

    int fd_ = -1;
    const unsigned char *data_ = nullptr;
    size_t size_ = 0;
    size_t position_ = 0;
    const std::atomic<int> &canceled_;
    PageLimits limits_;
    // Descriptor bytes read ahead, so that compressed page data can be scanned
    // before libcups is given them.
    std::vector<unsigned char> ahead_;
    size_t aheadStart_ = 0;
    CompressedPageScan scan_;

    // What the last header read asked for and got.
    bool headerExpected_ = false;
    size_t lastRequest_ = 0;
    uint64_t bytesSinceHeader_ = 0;
    bool endReached_ = false;
    bool refused_ = false;
    cups_page_header2_t refusedHeader_{};
    // The first bytes name the stream format; only CUPS raster headers have kCupsRasterHeaderBytes.
    unsigned char sync_[4] = {};
    size_t syncBytes_ = 0;
};

} // namespace varkon
