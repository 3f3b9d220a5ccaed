// SPDX-License-Identifier: GPL-2.0-or-later
// PWG raster (and CUPS raster) documents read for the raster core without
// libcups: libcups decodes a compressed line one pixel at a time and copies
// every line once more, which costs a server job as long as the halftoning
// of its pages. Lines come out exactly as libcups gives them.
#pragma once

#include <cups/raster.h>

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace varkon::app {

class RasterReader {
public:
    // Reads descriptor `fd`, which the caller keeps open while reading.
    explicit RasterReader(int fd);
    // Reads through `read` (as libcups' raster reader does), after the
    // `given` bytes at `start` that were read from it already.
    RasterReader(cups_raster_iocb_t read, void *context, const unsigned char *start = nullptr, size_t given = 0);
    RasterReader(const RasterReader &) = delete;
    RasterReader &operator=(const RasterReader &) = delete;

    enum class Next { Page, End, Error };
    // The next page's header: Page, End where the document ends between pages,
    // or Error (see error()). A header is checked only as far as libcups
    // checks it; its size is for the caller to accept before reading lines.
    Next next_page(cups_page_header2_t *header);
    // The next line of the page into `line` (the header's cupsBytesPerLine
    // bytes). False, with error() set, when the document ends inside the page
    // or is no raster, or when the page has no more lines (a planar page has
    // cupsHeight lines per colour, as libcups reads it).
    bool read_line(unsigned char *line);

    const std::string &error() const { return error_; }
    // Whether the reading ended at a page header that libcups, or the limit
    // below, refuses.
    bool refused_header() const { return refusedHeader_; }

    // Pages with longer lines are refused before anyone allocates a line:
    // libcups takes up to 2 GiB, and no printer of ours prints such a page.
    void limit_line_bytes(uint32_t maxLineBytes) { maxLineBytes_ = maxLineBytes; }

private:
    bool fill(size_t wanted);
    bool take(unsigned char *to, size_t count);
    bool decode_line(unsigned char *line);
    size_t decode_buffered_runs(unsigned char *line, size_t at);
    bool fail(const std::string &why);

    static ssize_t read_descriptor(void *fd, unsigned char *buffer, size_t length);

    int fd_ = -1;
    cups_raster_iocb_t read_;
    void *context_;
    std::vector<unsigned char> buffer_;
    size_t start_ = 0;   // the first byte not yet used
    size_t end_ = 0;     // one past the last byte read
    bool eof_ = false;
    bool opened_ = false;
    bool compressed_ = false;
    bool swapped_ = false;
    unsigned char sync_[4] = {};

    cups_page_header2_t header_{};
    unsigned page_ = 0;
    uint32_t linesLeft_ = 0;
    unsigned bytesPerPixel_ = 1;
    unsigned char clearValue_ = 0;  // what a "clear to the end of the line" run fills with
    bool swapSamples_ = false;
    unsigned repeatsLeft_ = 0;      // times the last decoded line comes again
    std::vector<unsigned char> lastLine_;
    uint32_t maxLineBytes_ = UINT32_MAX;
    bool refusedHeader_ = false;
    std::string error_;
};

} // namespace varkon::app
