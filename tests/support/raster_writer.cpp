// SPDX-License-Identifier: GPL-2.0-or-later
// CUPS raster streams for tests, written by libcups into an anonymous memory file.
#include "raster_writer.h"

#include "run_process.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace varkon::test {

namespace {

// Descriptor of an anonymous file, closed on scope exit.
struct MemoryFile {
    int fd = memfd_create("varkon-raster", MFD_CLOEXEC);
    MemoryFile()
    {
        if (fd < 0)
            throw std::runtime_error("memfd_create failed");
    }
    ~MemoryFile() { close(fd); }
    MemoryFile(const MemoryFile &) = delete;
    MemoryFile &operator=(const MemoryFile &) = delete;
};

void write_page(cups_raster_t *ras, const RasterPage &page)
{
    cups_page_header2_t header = page.header;
    if (cupsRasterWriteHeader2(ras, &header) == 0)
        throw std::runtime_error("cupsRasterWriteHeader2 failed");
    const unsigned bytes = header.cupsBytesPerLine;
    const unsigned rows = page.rows < 0 ? header.cupsHeight : static_cast<unsigned>(page.rows);
    std::vector<unsigned char> line(bytes);
    for (unsigned y = 0; y < rows; ++y) {
        std::fill(line.begin(), line.end(), 255);
        if (page.fill)
            page.fill(y, line.data(), bytes);
        if (cupsRasterWritePixels(ras, line.data(), bytes) != bytes)
            throw std::runtime_error("cupsRasterWritePixels failed");
    }
}

} // namespace

cups_page_header2_t gray_header(unsigned width_pt, unsigned height_pt, unsigned dpi)
{
    cups_page_header2_t h;
    std::memset(&h, 0, sizeof h);
    std::strcpy(h.MediaClass, "PwgRaster");
    h.HWResolution[0] = h.HWResolution[1] = dpi;
    h.PageSize[0] = width_pt;
    h.PageSize[1] = height_pt;
    h.NumCopies = 1;
    h.cupsWidth = width_pt * dpi / 72;
    h.cupsHeight = height_pt * dpi / 72;
    h.cupsBitsPerColor = 8;
    h.cupsBitsPerPixel = 8;
    h.cupsBytesPerLine = h.cupsWidth;
    h.cupsColorOrder = CUPS_ORDER_CHUNKED;
    h.cupsColorSpace = CUPS_CSPACE_SW;
    h.cupsNumColors = 1;
    return h;
}

std::string make_raster(const std::vector<RasterPage> &pages, cups_mode_t mode)
{
    MemoryFile file;
    cups_raster_t *ras = cupsRasterOpen(file.fd, mode);
    if (ras == nullptr)
        throw std::runtime_error("cupsRasterOpen failed");
    try {
        for (const auto &page : pages)
            write_page(ras, page);
    } catch (...) {
        cupsRasterClose(ras);
        throw;
    }
    cupsRasterClose(ras);
    std::string stream;
    char buf[65536];
    ssize_t n;
    off_t at = 0;
    while ((n = pread(file.fd, buf, sizeof buf, at)) > 0) {
        stream.append(buf, static_cast<size_t>(n));
        at += n;
    }
    return stream;
}

void write_raster_file(const std::string &path, const std::vector<RasterPage> &pages)
{
    write_file(path, make_raster(pages));
}

LineFill fill_rect(unsigned x0, unsigned y0, unsigned x1, unsigned y1, unsigned char gray)
{
    return [=](unsigned y, unsigned char *line, unsigned bytes) {
        if (y < y0 || y >= y1)
            return;
        const unsigned end = std::min(x1, bytes);
        if (x0 < end)
            std::memset(line + x0, gray, end - x0);
    };
}

} // namespace varkon::test
