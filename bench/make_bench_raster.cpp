// SPDX-License-Identifier: GPL-2.0-or-later
// Writes a multi-page CUPS raster job (A4, 600 dpi, 8-bit gray as the CUPS imaging
// filters deliver it) for timing the real filter:
//   varkon-bench-raster OUTPUT PAGES [text|photo|mixed]
// and with --pwg the same pages as PWG raster as well, for the Printer
// Application, both with the pixels of the header an IPP client gives A4
// sgray_8 (4960 x 7015); the CUPS raster keeps the PPD's A4 page size:
//   varkon-bench-raster OUTPUT PAGES text|photo|mixed --pwg PWG_OUTPUT [--uncompressed]
// where --uncompressed writes the CUPS raster uncompressed, as gstoraster does.
// or repeats the first page of a raster file, uncompressed as gstoraster writes it,
// to a file or to standard output ("-"), so that long jobs need no disk:
//   varkon-bench-raster --repeat INPUT PAGES OUTPUT
#include "bench_pages.h"

#include <cups/cups.h>
#include <cups/raster.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

using varkon::bench::PageKind;

namespace {

cups_page_header2_t a4_gray_header()
{
    cups_page_header2_t h;
    std::memset(&h, 0, sizeof h);
    h.HWResolution[0] = h.HWResolution[1] = 600;
    h.PageSize[0] = 595;
    h.PageSize[1] = 842;
    h.cupsWidth = 595 * 600 / 72;
    h.cupsHeight = 842 * 600 / 72;
    h.cupsBitsPerColor = 8;
    h.cupsBitsPerPixel = 8;
    h.cupsBytesPerLine = h.cupsWidth;
    h.cupsColorOrder = CUPS_ORDER_CHUNKED;
    h.cupsColorSpace = CUPS_CSPACE_SW;
    h.NumCopies = 1;
    std::strcpy(h.MediaType, "Plain");
    std::strcpy(h.cupsPageSizeName, "A4");
    return h;
}

// A4 sgray_8 at 600 dpi as cupsRasterInitPWGHeader makes it for an IPP client.
bool pwg_a4_gray_header(cups_page_header2_t *h)
{
    return cupsRasterInitPWGHeader(h, pwgMediaForPWG("iso_a4_210x297mm"), "sgray_8", 600, 600, "one-sided",
                                   nullptr) != 0;
}

bool write_page(cups_raster_t *ras, cups_page_header2_t header, const std::vector<unsigned char> &gray)
{
    if (!cupsRasterWriteHeader2(ras, &header))
        return false;
    for (unsigned y = 0; y < header.cupsHeight; ++y) {
        auto *line = const_cast<unsigned char *>(gray.data()) + size_t{y} * header.cupsWidth;
        if (cupsRasterWritePixels(ras, line, header.cupsBytesPerLine) != header.cupsBytesPerLine)
            return false;
    }
    return true;
}

// The first page of a raster file, header and pixels.
bool read_first_page(const char *path, cups_page_header2_t *header, std::vector<unsigned char> *pixels)
{
    const int fd = open(path, O_RDONLY);
    if (fd < 0)
        return false;
    cups_raster_t *ras = cupsRasterOpen(fd, CUPS_RASTER_READ);
    bool ok = ras != nullptr && cupsRasterReadHeader2(ras, header) != 0;
    if (ok) {
        pixels->resize(size_t{header->cupsBytesPerLine} * header->cupsHeight);
        ok = header->cupsBytesPerLine == 0 ||
             cupsRasterReadPixels(ras, pixels->data(), static_cast<unsigned>(pixels->size())) == pixels->size();
    }
    if (ras != nullptr)
        cupsRasterClose(ras);
    close(fd);
    return ok;
}

int repeat_page(const char *input, int pages, const char *output)
{
    cups_page_header2_t header;
    std::vector<unsigned char> pixels;
    if (!read_first_page(input, &header, &pixels)) {
        std::fprintf(stderr, "%s: no raster page to repeat\n", input);
        return 1;
    }
    const bool toStdout = std::strcmp(output, "-") == 0;
    const int fd = toStdout ? 1 : open(output, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) {
        std::perror(output);
        return 1;
    }
    cups_raster_t *ras = cupsRasterOpen(fd, CUPS_RASTER_WRITE);
    bool ok = ras != nullptr;
    for (int page = 0; ok && page < pages; ++page)
        ok = cupsRasterWriteHeader2(ras, &header) != 0 &&
             cupsRasterWritePixels(ras, pixels.data(), static_cast<unsigned>(pixels.size())) == pixels.size();
    if (ras != nullptr)
        cupsRasterClose(ras);
    if ((!toStdout && close(fd) != 0) || !ok) {
        std::fprintf(stderr, "%s: cannot write the raster job\n", output);
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc == 5 && std::strcmp(argv[1], "--repeat") == 0) {
        const int pages = std::atoi(argv[3]);
        if (pages <= 0) {
            std::fprintf(stderr, "%s: PAGES must be positive\n", argv[0]);
            return 2;
        }
        return repeat_page(argv[2], pages, argv[4]);
    }
    const bool withPwg = argc >= 6 && std::strcmp(argv[4], "--pwg") == 0;
    const bool uncompressed = withPwg && argc == 7 && std::strcmp(argv[6], "--uncompressed") == 0;
    if (argc < 3 || (argc > 4 && !withPwg) || (argc == 7 && !uncompressed) || argc > 7) {
        std::fprintf(stderr, "usage: %s OUTPUT PAGES [text|photo|mixed] [--pwg PWG_OUTPUT [--uncompressed]]\n",
                     argv[0]);
        return 2;
    }
    const int pages = std::atoi(argv[2]);
    const std::string mix = argc >= 4 ? argv[3] : "mixed";
    if (pages <= 0 || (mix != "text" && mix != "photo" && mix != "mixed")) {
        std::fprintf(stderr, "%s: PAGES must be positive and the mix text, photo or mixed\n", argv[0]);
        return 2;
    }

    cups_page_header2_t header = a4_gray_header();
    if (withPwg && !pwg_a4_gray_header(&header)) {
        std::fprintf(stderr, "%s: no PWG header for A4 sgray_8\n", argv[0]);
        return 1;
    }
    const auto text = varkon::bench::gray_page(PageKind::Text, header.cupsWidth, header.cupsHeight);
    const auto photo = mix == "text" ? text : varkon::bench::gray_page(PageKind::Photo, header.cupsWidth, header.cupsHeight);

    struct Output {
        const char *path;
        cups_mode_t mode;
        cups_page_header2_t header;
    };
    std::vector<Output> outputs = {{argv[1], uncompressed ? CUPS_RASTER_WRITE : CUPS_RASTER_WRITE_COMPRESSED, header}};
    if (withPwg) {
        outputs.push_back({argv[5], CUPS_RASTER_WRITE_PWG, header});
        // PWG A4 is 595 x 841 points; the PPD's A4, which the server snaps it to, 595 x 842.
        outputs[0].header.PageSize[1] = 842;
    }
    for (const Output &output : outputs) {
        const int fd = open(output.path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0) {
            std::perror(output.path);
            return 1;
        }
        cups_raster_t *ras = cupsRasterOpen(fd, output.mode);
        bool ok = ras != nullptr;
        for (int page = 0; ok && page < pages; ++page) {
            const bool usePhoto = mix == "photo" || (mix == "mixed" && page % 2 == 1);
            ok = write_page(ras, output.header, usePhoto ? photo : text);
        }
        if (ras != nullptr)
            cupsRasterClose(ras);
        if (close(fd) != 0 || !ok) {
            std::fprintf(stderr, "%s: cannot write the raster job\n", output.path);
            return 1;
        }
    }
    return 0;
}
