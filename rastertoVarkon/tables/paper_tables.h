// SPDX-License-Identifier: GPL-2.0-or-later
// Paper tables of the printer generations, and the choice of platform and table.
#pragma once

#include <cups/cups.h>
#include <cups/raster.h>

#include <cstdint>

struct PAPER_SIZE_INFO {
    int32_t cupsPaperW;        // page width in points; -1 marks the end of a table
    int32_t cupsPaperH;        // page height in points
    int32_t fwPaperW;          // printable width in device pixels at 600 dpi
    int32_t fwPaperH;          // printable height in device pixels
    int32_t fwPaperNum;        // the printer's paper-size code
    uint16_t fwPaperMarginX;
    uint16_t fwPaperMarginY;
    char strPageSize[16];      // PPD PageSize choice name
};

// Rows of each table, not counting the end row.
constexpr int kBelvarRows = 24;
constexpr int kBelvarMFPRows = 23;
constexpr int kOskelDrevanRows = 23;
constexpr int kNimbrelSarvelRows = 23;

extern const PAPER_SIZE_INFO gPaperSizeArray_Belvar[kBelvarRows + 1];
extern const PAPER_SIZE_INFO gPaperSizeArray_BelvarMFP[kBelvarMFPRows + 1];
extern const PAPER_SIZE_INFO gPaperSizeArray_Oskel_Drevan[kOskelDrevanRows + 1];
extern const PAPER_SIZE_INFO gPaperSizeArray_Nimbrel_Sarvel[kNimbrelSarvelRows + 1];

// Model table lookup: the paper table for the PPD model name, platform through pPlatform.
const PAPER_SIZE_INFO *GetPaperSizeArray(const char *pPPDFile, int *pPlatform);

// Row index for the page size, or -1. 421 x 595 is A5 fed long edge: sets *pFeed to 1.
int GetPaperArrayIndex(const unsigned cupsPaperSize[2], const PAPER_SIZE_INFO *paperTypeArray, int32_t *pFeed);

// Replaces an oversize page size from the table by the job's PageSize option.
void isCutThePaper(cups_page_header2_t *header, const PAPER_SIZE_INFO *paperSizeArray, int num_option,
                   cups_option_t *options);

namespace varkon {

// The PPD's PlatForm text ("PLATFORM_C", "PLATFORM_Z", "PLATFORM_M", any case):
// the platform through pPlatform and its paper table; platform 0 and nullptr otherwise.
const PAPER_SIZE_INFO *platform_paper_table(const char *platformText, int *pPlatform);

} // namespace varkon
