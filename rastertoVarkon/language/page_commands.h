// SPDX-License-Identifier: GPL-2.0-or-later
// Page start and end: frame builders of the page frames, the coverage arithmetic
// and the parameter list of the M page start.
#pragma once

#include "prnt.h"

#include <cstddef>
#include <cstdint>

// Each builder fills its frame with checksum and returns 1.
int GetPageSpecCmd(const GDI_START_PAGE_PARAM *pStartPageParam, unsigned char *frame, int platform);  // 18 bytes
int GetCustomPaperCmd(const GDI_START_PAGE_PARAM *pStartPageParam, unsigned char *frame, int platform); // 12
int GetImageDataChenksumCmd(unsigned char *frame, uint32_t imageChecksum);                              // 6, C
// C coverage frame (6 bytes) from the page's dot count; also stores the count sent in dotCnt.
int GetCoverageCmd_C(PGDI_END_PAGE_PARAM pEndPageParam, unsigned char *frame, uint32_t imageCoverage);
int GetCoverageCmd_Z(unsigned char *frame, uint32_t imageCoverage); // 7 bytes

namespace varkon {

constexpr size_t kPageSpecLen = 18;
constexpr size_t kCustomPaperLen = 12;
constexpr size_t kImageChecksumLen = 6;
constexpr size_t kCoverageCLen = 6;
constexpr size_t kCoverageZLen = 7;

// The printed-point count of the C coverage frame, before the cut to 16 bits.
int32_t coverage_count_c(uint32_t imageCoverage, int32_t resolutionE, int32_t densityE, int32_t paperWidthE);

// One parameter of the M page start, with the text reported when sending it fails.
struct PageParamM {
    uint16_t paramCmd = 0;
    uint32_t value = 0;
    const char *failure = nullptr;
};
constexpr size_t kMaxPageParamsM = 17;

// The parameters of START_PAGE_CMD in sending order; returns their count (14, or 17 for custom paper).
size_t start_page_params_m(const GDI_START_PAGE_PARAM &param, PageParamM (&params)[kMaxPageParamsM]);

} // namespace varkon
