// SPDX-License-Identifier: GPL-2.0-or-later
// Page image transfer: the encoder parameters per platform, the raster image,
// band and JBIG parameter frames, the compressed page and the M data packages.
#pragma once

#include "prnt.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// C and Z raster image header (18 bytes). Returns 1.
int GetRasterImageCmd(const GDI_SEND_PAGE_PARAM *pSendPageParam, unsigned char *frame);

// M JBIG parameter frame (36 bytes; callers pass 36, 4, 0x5A5A). Returns 1.
int SetJBIGCmdAndParam(unsigned char *frame, const JBIG_BIH *JbigBih, uint32_t cmdLen, uint32_t cmdType,
                       uint16_t cmdSignature);

// Z band frame (48 bytes) for a band of JbigBih->ParamL0 lines starting at line posVert. Returns 1.
int GetJbigBandCmd(unsigned char *frame, const JBIG_BIH *JbigBih, uint32_t compDataSize, uint32_t posVert);

// Compresses the page into outbuf (replacing its contents): one JBIG image on C and M,
// band frames and one JBIG image per 256-line band on Z. Sets gImageChecksum.
// Returns the byte count, or -1 with a text in prntLastError when the page could not be encoded.
int OutputJbigkitCompression(const GDI_SEND_PAGE_PARAM *pSendPageParam, JBIG_BIH *JbigBih,
                             std::vector<unsigned char> &outbuf, int platform);

namespace varkon {

constexpr size_t kRasterImageLen = 18;
constexpr size_t kJbigParamLen = 36;
constexpr size_t kBandFrameLen = 48;
constexpr uint32_t kBandLines = 256;
constexpr size_t kPackageSize = 65536;

// The encoder parameters of a page on the platform.
JBIG_BIH jbig_bih_for(const GDI_SEND_PAGE_PARAM &param, int platform);

// The C image checksum of compressed bytes: their 8-bit sum plus that of UEL_CMD_C,
// which the printer counts between the raster header and the checksum frame.
uint32_t image_checksum(const unsigned char *data, size_t len);

// The sending half of Prnt_SendPage: the page's frames around a page already
// compressed into outbuf (`encoded` bytes, or -1 when compressing failed). 1 or 0.
int send_encoded_page(PGDI_SEND_PAGE_PARAM pSendPageParam, const JBIG_BIH &bih, int encoded,
                      const std::vector<unsigned char> &outbuf, int platform);

// Sends the compressed page as M JBIG_DATA_CMD packages of at most 64 KiB. 1 or 0.
int send_packages_m(const unsigned char *data, size_t size);

} // namespace varkon
