// SPDX-License-Identifier: GPL-2.0-or-later
// Page geometry and the parameter records of the command layer.
#include "page_geometry.h"

#include "platform.h"
#include "raster_fields.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace varkon {

namespace {

constexpr int kCustomPaperC = 255;
constexpr int kA5PaperC = 6;
constexpr int kA5PaperZM = 11;
constexpr int kLongEdgeA5PaperZ = 18;
constexpr int kLongEdgeA5PaperM = 61;
constexpr uint16_t kLongEdgeFeed = 0x40;

// Printable extent in points along one side. The CUPS imaging filters give
// cupsImagingBBox as a box (left, bottom, right, top); headers that leave it
// zero, or carry two margins, are read as page minus both values.
float printable_points(unsigned page, float low, float high)
{
    if (high > low && low >= 0.0f)
        return high - low;
    return static_cast<float>(page) - low - high;
}

// Points to device pixels at 600 dpi, truncated, then rounded up to `multiple`.
// Returns false for a size that is not a number, not positive, or absurd.
bool device_pixels(float points, uint32_t multiple, uint32_t *pixels)
{
    const float exact = points / 72.0f * 600.0f;
    if (!std::isfinite(exact) || exact < 1.0f || exact > 1.0e6f)
        return false;
    const uint32_t truncated = static_cast<uint32_t>(exact);
    *pixels = (truncated + multiple - 1) / multiple * multiple;
    return true;
}

bool computed_size(const cups_page_header2_t &header, PageGeometry *g)
{
    const float *box = header.cupsImagingBBox;
    return device_pixels(printable_points(header.PageSize[0], box[0], box[2]), 32, &g->W) &&
           device_pixels(printable_points(header.PageSize[1], box[1], box[3]), 8, &g->H);
}

void apply_resolution(const cups_page_header2_t &header, int platform, PageGeometry *g)
{
    uint32_t resX = 600, resY = 600;
    if (platform == PLATFORM_C) {
        if (header.HWResolution[0] == 1200) {
            resX = 1200;
            g->W *= 2;
        }
        if (header.HWResolution[1] == 1200) {
            resY = 1200;
            g->H *= 2;
        }
    }
    if (platform == PLATFORM_C || platform == PLATFORM_Z) {
        resX /= 10;
        resY /= 10;
    }
    g->resolutionX = static_cast<uint16_t>(resX);
    g->resolutionY = static_cast<uint16_t>(resY);
}

// The physical page in device pixels must fit the 16-bit fields of the page start.
bool physical_size_fits(const cups_page_header2_t &header)
{
    for (int i = 0; i < 2; ++i) {
        const double pixels = double(header.PageSize[i]) / 72.0 * header.HWResolution[i];
        if (pixels > 65535.0)
            return false;
    }
    return true;
}

bool is_gray(unsigned colorSpace) { return colorSpace == CUPS_CSPACE_W || colorSpace == CUPS_CSPACE_SW; }

uint16_t physical_pixels(unsigned points, unsigned dpi)
{
    return static_cast<uint16_t>(static_cast<float>(points) / 72.0f * static_cast<float>(dpi));
}

uint8_t density_level(const PRINT_FUNC_INFO *features)
{
    return features[TONERMODE].value == 1 ? 0 : static_cast<uint8_t>(features[DENSITY].value & 0xFF);
}

} // namespace

const char *raster_header_problem(const cups_page_header2_t &h, const PageLimits &limits)
{
    // Other colour spaces of one channel (K above all) have 0 as white: printed
    // as gray they come out as a negative.
    if (h.cupsBitsPerColor != 8 || h.cupsBitsPerPixel != 8 || !is_gray(field_value(h.cupsColorSpace)))
        return "ERROR: The page is not 8-bit grayscale raster and cannot be printed.\n";
    if (h.cupsBytesPerLine == 0 || h.cupsHeight == 0)
        return "ERROR: The page has no raster lines and cannot be printed.\n";
    if (h.cupsBytesPerLine < h.cupsWidth)
        return "ERROR: The raster lines are shorter than the page width; the page cannot be printed.\n";
    if (h.cupsBytesPerLine > limits.maxRasterLineBytes || h.cupsHeight > limits.maxRasterLines)
        return "ERROR: The raster page is too large to be printed.\n";
    if (h.NumCopies > kMaxCopies)
        return "ERROR: The page asks for more than 65535 copies and cannot be printed.\n";
    return nullptr;
}

void normalise_copies(cups_page_header2_t *header)
{
    if (header->NumCopies == 0)
        header->NumCopies = 1;
}

int compute_page_geometry(cups_page_header2_t *header, const PAPER_SIZE_INFO *paperSizeArray, int num_option,
                          cups_option_t *options, PRINT_FUNC_INFO *features, int platform, PageGeometry *g,
                          const char **problem, const PageLimits &limits)
{
    *g = PageGeometry{};
    if (paperSizeArray != nullptr && header->PageSize[0] > 612 && header->PageSize[1] > 1008)
        isCutThePaper(header, paperSizeArray, num_option, options);
    const int row = (paperSizeArray != nullptr)
                        ? GetPaperArrayIndex(header->PageSize, paperSizeArray, &features[LONGEDGEFEED].value)
                        : -1;
    if (row >= 0) {
        const PAPER_SIZE_INFO &paper = paperSizeArray[row];
        g->W = static_cast<uint32_t>(paper.fwPaperW);
        g->H = static_cast<uint32_t>(paper.fwPaperH);
        g->paperNum = paper.fwPaperNum;
        g->marginX = paper.fwPaperMarginX;
        g->marginY = paper.fwPaperMarginY;
    } else {
        g->paperNum = (platform == PLATFORM_C) ? kCustomPaperC : 0;
        if (!computed_size(*header, g)) {
            *problem = "ERROR: The page size is invalid and the page cannot be printed.\n";
            return 0;
        }
    }
    // A resolution of 0 would announce a physical page of no size.
    if (header->HWResolution[0] == 0 || header->HWResolution[1] == 0) {
        *problem = "ERROR: The page has no resolution and cannot be printed.\n";
        return 0;
    }
    apply_resolution(*header, platform, g);
    if (g->W > limits.maxDeviceWidth || g->H > limits.maxDeviceHeight ||
        uint64_t(g->W) * g->H > limits.maxDevicePixels || !physical_size_fits(*header)) {
        *problem = "ERROR: The page size is too large for the printer and the page cannot be printed.\n";
        return 0;
    }
    return 1;
}

bool long_edge_a5(const PageGeometry &g, const PRINT_FUNC_INFO *features, int platform)
{
    const int a5 = (platform == PLATFORM_C) ? kA5PaperC : kA5PaperZM;
    return features[LONGEDGEFEED].value == 1 && g.paperNum == a5;
}

void fill_start_doc_param(GDI_START_DOC_PARAM *p, const char *jobId, const char *title,
                          const PRINT_FUNC_INFO *features, int platform, int iSupportManDuplex)
{
    *p = GDI_START_DOC_PARAM{};
    p->jobID = static_cast<int32_t>(std::strtol(jobId, nullptr, 10));
    // The first 32 bytes of the title, zero-filled, unterminated when the title fills them.
    std::memcpy(p->jobName, title, strnlen(title, sizeof p->jobName));
    const bool manual = features[MANUALDUPLEX].value == 1;
    if (platform == PLATFORM_Z && iSupportManDuplex == 1 && manual) {
        p->DuplexMode = 0;
        p->saveMode = 0x10;
    } else {
        p->DuplexMode = (features[AUTODUPLEX].value != 0 || manual) ? 0x20 : 0;
        p->saveMode = (platform == PLATFORM_M) ? 0 : 0x10;
    }
    p->FineMode = features[FINEMODE].value == 1 ? 1 : 0;
    p->densityLevel = density_level(features);
}

void fill_start_page_param(GDI_START_PAGE_PARAM *p, const PageGeometry &g, const cups_page_header2_t &header,
                           const PRINT_FUNC_INFO *features, int platform, int b2Bit, int page)
{
    *p = GDI_START_PAGE_PARAM{};
    p->paperSize = static_cast<uint16_t>(g.paperNum);
    p->mediaType = static_cast<uint16_t>(header.cupsMediaType);
    p->resolutionX = g.resolutionX;
    p->resolutionY = g.resolutionY;
    const unsigned media = header.cupsMediaType;
    const bool slotApplies = media == 0 || media == 5 || (media == 1 && platform == PLATFORM_M);
    p->tray = static_cast<uint16_t>(slotApplies ? features[INPUTSLOT].value : 1);
    p->copies = static_cast<uint16_t>(features[COLLATE].value == 1 ? 1 : header.NumCopies);
    p->marginX = g.marginX;
    p->marginY = g.marginY;
    p->pageNum = static_cast<uint16_t>(page);
    p->userPhyPgW = physical_pixels(header.PageSize[0], header.HWResolution[0]);
    p->userPhyPgH = physical_pixels(header.PageSize[1], header.HWResolution[1]);
    p->userPrntAreaW = static_cast<uint16_t>(g.W);
    p->userPrntAreaH = static_cast<uint16_t>(g.H);
    p->iIs2bit = static_cast<uint32_t>(b2Bit);
    p->densityLevel = density_level(features);
    if (long_edge_a5(g, features, platform)) {
        p->feedEdge = kLongEdgeFeed;
        std::swap(p->userPhyPgW, p->userPhyPgH);
        std::swap(p->userPrntAreaW, p->userPrntAreaH);
        if (platform == PLATFORM_Z)
            p->paperSize = kLongEdgeA5PaperZ;
        else if (platform == PLATFORM_M)
            p->paperSize = kLongEdgeA5PaperM;
    }
}

void fill_send_page_param(GDI_SEND_PAGE_PARAM *p, uint32_t W, uint32_t H, int b2Bit,
                          const cups_page_header2_t &header, int platform, unsigned char *image)
{
    *p = GDI_SEND_PAGE_PARAM{};
    p->compression = 0x20;
    p->whlImgW = static_cast<uint16_t>(b2Bit == 1 ? 2 * W : W);
    p->whlImgH = static_cast<uint16_t>(H);
    if (platform == PLATFORM_C) {
        p->rasImgW = static_cast<uint16_t>(W);
        p->rasImgH = header.HWResolution[0] == 600 ? 768 : 384;
        p->cmpImgBytes = 853;
    }
    p->sendImgBuf = image;
}

void fill_end_page_param(GDI_END_PAGE_PARAM *p, const cups_page_header2_t &header, const PRINT_FUNC_INFO *features,
                         int page)
{
    *p = GDI_END_PAGE_PARAM{};
    p->page = page;
    p->bMachDup = features[AUTODUPLEX].value != 0 ? 1 : 0;
    p->resolutionE = static_cast<int32_t>(header.HWResolution[0]);
    p->paperWidthE = static_cast<int32_t>(static_cast<float>(header.PageSize[0]) / 72.0f * 25.4f);
    p->densityE = features[DENSITY].value;
}

void fill_end_doc_param(GDI_END_DOC_PARAM *p, const PRINT_FUNC_INFO *features, int page)
{
    p->page = page;
    p->bMachDup = features[AUTODUPLEX].value != 0 ? 1 : 0;
}

} // namespace varkon
