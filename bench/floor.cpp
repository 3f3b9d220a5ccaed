// SPDX-License-Identifier: GPL-2.0-or-later
// The in-process floor of one page: the raster read, the halftone and the JBIG
// encoding of the first page of a raster file, on one thread, with nothing around
// them: no process start, no options, no printer frames, no helper threads. The
// filter is measured against it. It also writes the halftoned page as PBM, so that
// a peer driver can be fed exactly the bits we encode.
//
//   varkon-bench-floor RASTER PPD REPEATS [--dpi1200] [--pbm OUTPUT]
//
// Prints one line per repetition: "total_ms read_dither_ms encode_ms bytes".
#include "bench_job.h"
#include "dither.h"
#include "image_transfer.h"
#include "job_options.h"
#include "page_geometry.h"
#include "paper_tables.h"
#include "platform.h"
#include "ppd_closer.h"
#include "prnt.h"

#include <cups/ppd.h>
#include <cups/raster.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double ms_since(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

struct Setup {
    int platform = PLATFORM_NONE;
    const PAPER_SIZE_INFO *paperTable = nullptr;
    int b1200dpi = 0;
};

bool read_setup(const char *ppdPath, Setup *setup)
{
    const varkon::PpdFile ppd(ppdOpenFile(ppdPath));
    if (ppd == nullptr || ppd->modelname == nullptr) {
        std::fprintf(stderr, "varkon-bench-floor: cannot read the model of %s\n", ppdPath);
        return false;
    }
    setup->paperTable = GetPaperSizeArray(ppd->modelname, &setup->platform);
    return setup->platform != PLATFORM_NONE;
}

struct Page {
    uint32_t W = 0, H = 0;
    unsigned resolution = 600;
    std::vector<unsigned char> mono;
    double readDitherMs = 0;
};

// Reads and halftones the first page as the filter does for an unturned page.
bool read_page(const char *rasterPath, const Setup &setup, Page *page)
{
    const auto start = Clock::now();
    const int fd = open(rasterPath, O_RDONLY);
    cups_raster_t *ras = fd >= 0 ? cupsRasterOpen(fd, CUPS_RASTER_READ) : nullptr;
    cups_page_header2_t header;
    bool ok = ras != nullptr && cupsRasterReadHeader2(ras, &header) != 0;
    varkon::PageGeometry geometry;
    PRINT_FUNC_INFO features[FUNC_COUNT];
    std::copy(std::begin(kDefaultPrintFuncInfo), std::end(kDefaultPrintFuncInfo), features);
    const char *problem = nullptr;
    ok = ok && varkon::compute_page_geometry(&header, setup.paperTable, 0, nullptr, features, setup.platform,
                                             &geometry, &problem) != 0;
    if (ok) {
        page->W = geometry.W;
        page->H = geometry.H;
        page->resolution = header.HWResolution[0];
        const uint32_t bpl = header.cupsBytesPerLine;
        const varkon::LineDither dither =
            varkon::line_dither_for(page->W, std::min(bpl, page->W), 0, setup.b1200dpi, setup.platform);
        const uint32_t lineBytes = varkon::line_bytes(dither);
        page->mono.resize(size_t{lineBytes} * page->H);
        std::vector<unsigned char> line(std::max(bpl, page->W), 255);
        const unsigned char *row = bpl <= page->W ? line.data() : line.data() + (bpl - page->W) / 2;
        for (uint32_t y = 0; y < header.cupsHeight && ok; ++y) {
            ok = cupsRasterReadPixels(ras, line.data(), bpl) == bpl;
            if (ok && y < page->H)
                varkon::dither_line(dither, row, y, page->mono.data() + size_t{y} * lineBytes);
        }
    }
    if (ras != nullptr)
        cupsRasterClose(ras);
    if (fd >= 0)
        close(fd);
    page->readDitherMs = ms_since(start);
    if (!ok)
        std::fprintf(stderr, "varkon-bench-floor: cannot read the first page of %s\n", rasterPath);
    return ok;
}

bool write_pbm(const char *path, const Page &page)
{
    FILE *out = std::fopen(path, "wb");
    if (out == nullptr)
        return false;
    std::fprintf(out, "P4\n%u %u\n", page.W, page.H);
    const bool ok = std::fwrite(page.mono.data(), 1, page.mono.size(), out) == page.mono.size();
    return std::fclose(out) == 0 && ok;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s RASTER PPD REPEATS [--dpi1200] [--pbm OUTPUT]\n", argv[0]);
        return 2;
    }
    const int repeats = std::atoi(argv[3]);
    Setup setup;
    const char *pbm = nullptr;
    for (int i = 4; i < argc; ++i) {
        if (std::strcmp(argv[i], "--dpi1200") == 0)
            setup.b1200dpi = 1;
        else if (std::strcmp(argv[i], "--pbm") == 0 && i + 1 < argc)
            pbm = argv[++i];
    }
    if (repeats < 1 || !read_setup(argv[2], &setup))
        return 2;

    for (int r = 0; r < repeats; ++r) {
        const auto start = Clock::now();
        Page page;
        if (!read_page(argv[1], setup, &page))
            return 1;
        const auto encodeStart = Clock::now();
        GDI_SEND_PAGE_PARAM param;
        param.whlImgW = static_cast<uint16_t>(setup.platform == PLATFORM_M && setup.b1200dpi == 1 ? 2 * page.W : page.W);
        param.whlImgH = static_cast<uint16_t>(page.H);
        param.rasImgW = setup.platform == PLATFORM_C ? static_cast<uint16_t>(page.W) : 0;
        param.rasImgH = setup.platform == PLATFORM_C ? (page.resolution == 600 ? 768 : 384) : 0;
        param.sendImgBuf = page.mono.data();
        JBIG_BIH bih = varkon::jbig_bih_for(param, setup.platform);
        std::vector<unsigned char> out;
        const int bytes = OutputJbigkitCompression(&param, &bih, out, setup.platform);
        const double encodeMs = ms_since(encodeStart);
        if (bytes < 0)
            return 1;
        std::printf("%.3f %.3f %.3f %d\n", ms_since(start), page.readDitherMs, encodeMs, bytes);
        std::fflush(stdout);
        if (r == 0 && pbm != nullptr && !write_pbm(pbm, page)) {
            std::fprintf(stderr, "varkon-bench-floor: cannot write %s\n", pbm);
            return 1;
        }
    }
    return 0;
}
