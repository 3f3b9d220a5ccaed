// SPDX-License-Identifier: GPL-2.0-or-later
// The printer command language as the job loop sees it: the parameter records
// and the job, page and image operations of platforms C, Z and M.
#pragma once

#include <cstdint>

struct GDI_START_DOC_PARAM {
    int32_t jobID = 0;
    char jobName[32] = {};         // not terminated when the title fills it
    int32_t watermarkEnable = 0;
    uint8_t DuplexMode = 0;        // OR-ed into the job option byte (0x20 duplex)
    uint8_t FineMode = 0;
    uint8_t saveMode = 0;          // OR-ed into the job option byte (0x10)
    int32_t bookletEnable = 0;
    int32_t posterEnable = 0;
    int32_t nupEnable = 0;
    int32_t overlapEnable = 0;
    int32_t tonerSaveEnable = 0;
    uint8_t densityLevel = 0;
};
using PGDI_START_DOC_PARAM = GDI_START_DOC_PARAM *;

struct GDI_END_DOC_PARAM {
    int32_t page = 0;
    int32_t bMachDup = 0;
};
using PGDI_END_DOC_PARAM = GDI_END_DOC_PARAM *;

struct GDI_START_PAGE_PARAM {
    uint16_t paperSize = 0;
    uint16_t mediaType = 0;
    uint16_t resolutionX = 0;      // C and Z: dpi / 10; M: dpi
    uint16_t resolutionY = 0;
    uint16_t tray = 0;
    uint16_t colorMode = 0;
    uint16_t feedEdge = 0;         // 0x40: long-edge feed of a turned page
    uint16_t marginUnit = 0;
    uint16_t copies = 0;
    uint16_t marginX = 0;
    uint16_t marginY = 0;
    uint16_t pageNum = 0;
    uint16_t userPhyPgW = 0;
    uint16_t userPhyPgH = 0;
    uint16_t userPrntAreaW = 0;
    uint16_t userPrntAreaH = 0;
    uint32_t iIs2bit = 0;
    uint8_t densityLevel = 0;
};
using PGDI_START_PAGE_PARAM = GDI_START_PAGE_PARAM *;

struct GDI_END_PAGE_PARAM {
    int32_t page = 0;
    int32_t bMachDup = 0;
    int32_t resolutionE = 0;
    int32_t paperWidthE = 0;
    int32_t densityE = 0;
    int32_t dotCnt = 0;            // output: the count the C coverage frame carried
};
using PGDI_END_PAGE_PARAM = GDI_END_PAGE_PARAM *;

struct GDI_SEND_PAGE_PARAM {
    uint8_t colorPlane = 0;
    uint8_t colorDepth = 0;
    uint8_t dataPacking = 0;
    uint8_t compression = 0;
    uint16_t whlImgW = 0;          // pixels as encoded: twice the width for 2-bit images
    uint16_t whlImgH = 0;
    uint16_t rasImgW = 0;
    uint32_t rasImgH = 0;
    int32_t cmpImgBytes = 0;       // output
    unsigned char *sendImgBuf = nullptr;
};
using PGDI_SEND_PAGE_PARAM = GDI_SEND_PAGE_PARAM *;

struct JBIG_BIH {
    uint8_t ParamDl = 0;
    uint8_t ParamD = 0;
    uint8_t ParamP = 0;
    uint8_t ParamReserved = 0;
    uint32_t ParamImgWidth = 0;
    uint32_t ParamImgHeight = 0;
    uint32_t ParamL0 = 0;
    uint8_t ParamMx = 0;
    uint8_t ParamMy = 0;
    uint8_t ParamOrder = 0;
    uint8_t ParamOption = 0;
};

// Each returns non-zero on success and 0 after a failed write, with its text put
// in front of prntLastError. Platform codes other than 1, 2, 3 write nothing.
int Prnt_StartDoc(PGDI_START_DOC_PARAM pStartDocParam, int platform);
int Prnt_EndDoc(PGDI_END_DOC_PARAM pEndDocParam, int platform);
int Prnt_StartPage(PGDI_START_PAGE_PARAM pStartPageParam, int platform);
int Prnt_EndPage(PGDI_END_PAGE_PARAM pEndPageParam, int platform);
int Prnt_SendPage(PGDI_SEND_PAGE_PARAM pSendPageParam, int platform);
int SendMachineDuplexCmd(int pageNum, int bEndDoc);
int SendManualDuplexCmd(int platform);
