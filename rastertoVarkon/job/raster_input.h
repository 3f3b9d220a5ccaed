// SPDX-License-Identifier: GPL-2.0-or-later
// The job's raster as libcups reads it, through the filter's own read callback:
// from the input descriptor, or from memory for jobs run inside a test or
// fuzzing process. Reading for libcups lets a cancelled job stop waiting for
// input that may never come, and shows whether a stream that yields no further
// page header ended between pages or inside a header (or in bytes that are no
// page at all), which must not pass for the end of the job.
#pragma once

#include <cups/raster.h>

#include <sys/types.h>

#include <cstddef>
#include <cstdint>

namespace varkon {

// Page header bytes of a CUPS raster stream (versions 1 to 3) after the sync word.
constexpr size_t kCupsRasterHeaderBytes = 1796;

class RasterInput {
public:
    // Reads descriptor `fd`, stopping at a cancellation.
    explicit RasterInput(int fd) : fd_(fd) {}
    // Reads `size` bytes at `data`, which must stay in place while the stream is open.
    RasterInput(const unsigned char *data, size_t size) : data_(data), size_(size) {}
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

private:
    static ssize_t read_callback(void *context, unsigned char *buffer, size_t length);
    ssize_t read_descriptor(unsigned char *buffer, size_t length);
    ssize_t read_memory(unsigned char *buffer, size_t length);
    void note_sync_word(const unsigned char *buffer, size_t length);

    int fd_ = -1;
    const unsigned char *data_ = nullptr;
    size_t size_ = 0;
    size_t position_ = 0;

    // What the last header read asked for and got.
    size_t lastRequest_ = 0;
    uint64_t bytesSinceHeader_ = 0;
    bool endReached_ = false;
    // The first bytes name the stream format; only CUPS raster headers have kCupsRasterHeaderBytes.
    unsigned char sync_[4] = {};
    size_t syncBytes_ = 0;
};

} // namespace varkon
