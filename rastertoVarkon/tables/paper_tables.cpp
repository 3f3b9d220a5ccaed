// SPDX-License-Identifier: GPL-2.0-or-later
// Paper tables of the four printer generations, the model-to-platform choice
// and the lookups the page geometry makes in a table.
#include "paper_tables.h"

#include "cupsdll.h"
#include "model_table.h"
#include "platform.h"

#include <strings.h>

#include <cstring>

namespace {

constexpr PAPER_SIZE_INFO kEnd = {-1, 0, 0, 0, 0, 0, 0, ""};

} // namespace

// Platform C printers. The second B6 row (code 30) can never be found: the
// first B6 row has the same size.
constexpr PAPER_SIZE_INFO gPaperSizeArray_Belvar[kBelvarRows + 1] = {
    {420, 595, 3328, 4736, 6, 0, 0, "A5"},
    {612, 792, 4928, 6364, 0, 0, 0, "Letter"},
    {595, 842, 4800, 6780, 1, 0, 0, "A4"},
    {298, 420, 2304, 3260, 24, 0, 0, "A6"},
    {516, 729, 4128, 5835, 3, 0, 0, "B5"},
    {499, 709, 3968, 5670, 25, 0, 0, "IOSB5"},
    {354, 499, 2784, 3922, 31, 0, 0, "B6"},
    {522, 756, 4192, 6064, 10, 0, 0, "Executive"},
    {396, 612, 3136, 4864, 12, 0, 0, "Statement"},
    {612, 936, 4928, 7560, 26, 0, 0, "Folio"},
    {612, 972, 4928, 7866, 27, 0, 0, "Oficio"},
    {283, 420, 2176, 3260, 8, 0, 0, "Postcard"},
    {279, 540, 2144, 4264, 11, 0, 0, "EnvMonarch"},
    {312, 624, 2432, 4961, 14, 0, 0, "EnvDL"},
    {459, 649, 3648, 5174, 15, 0, 0, "EnvC5"},
    {297, 684, 2304, 5464, 16, 0, 0, "Com10Envelope"},
    {323, 459, 2528, 3591, 28, 0, 0, "EnvC6"},
    {340, 652, 2656, 5197, 29, 0, 0, "ZL"},
    {354, 499, 2784, 3922, 30, 0, 0, "B6"},
    {612, 1008, 4928, 8164, 2, 0, 0, "Legal"},
    {383, 553, 3008, 4371, 23, 0, 0, "Big32K"},
    {553, 765, 4448, 6142, 21, 0, 0, "Big16K"},
    {369, 524, 2912, 4134, 22, 0, 0, "32K"},
    {524, 737, 4192, 5906, 20, 0, 0, "16K"},
    kEnd,
};

// Platform C multi-function devices: envelopes and cards carry margins.
constexpr PAPER_SIZE_INFO gPaperSizeArray_BelvarMFP[kBelvarMFPRows + 1] = {
    {420, 595, 3312, 4720, 6, 0, 0, "A5"},
    {612, 792, 4912, 6364, 0, 0, 0, "Letter"},
    {595, 842, 4776, 6782, 1, 0, 0, "A4"},
    {298, 420, 2296, 3260, 24, 0, 0, "A6"},
    {516, 729, 4112, 5835, 3, 0, 0, "B5"},
    {499, 709, 3968, 5669, 25, 0, 0, "IOSB5"},
    {354, 499, 2760, 3921, 31, 0, 0, "B6"},
    {522, 756, 4168, 6064, 10, 0, 0, "Executive"},
    {396, 612, 3112, 4864, 12, 0, 0, "Statement"},
    {612, 936, 4912, 7564, 26, 0, 0, "Folio"},
    {612, 972, 4920, 7866, 27, 0, 0, "Oficio"},
    {283, 420, 1896, 3024, 8, 240, 120, "Postcard"},
    {279, 540, 1856, 4028, 11, 240, 120, "EnvMonarch"},
    {312, 624, 2128, 4724, 14, 240, 120, "EnvDL"},
    {459, 649, 3360, 4937, 15, 240, 120, "EnvC5"},
    {297, 684, 2008, 5228, 16, 240, 120, "Com10Envelope"},
    {323, 459, 2224, 3354, 28, 240, 120, "EnvC6"},
    {340, 652, 2648, 5197, 29, 0, 0, "ZL"},
    {612, 1008, 4912, 8164, 2, 0, 0, "Legal"},
    {383, 553, 3000, 4370, 23, 0, 0, "Big32K"},
    {553, 765, 4424, 6142, 21, 0, 0, "Big16K"},
    {369, 524, 2888, 4134, 22, 0, 0, "32K"},
    {524, 737, 4184, 5906, 20, 0, 0, "16K"},
    kEnd,
};

// Platform Z.
constexpr PAPER_SIZE_INFO gPaperSizeArray_Oskel_Drevan[kOskelDrevanRows + 1] = {
    {420, 595, 3264, 4736, 11, 0, 0, "A5"},
    {595, 842, 4736, 6780, 1, 0, 0, "A4"},
    {612, 792, 4864, 6364, 2, 0, 0, "Letter"},
    {612, 1008, 4864, 8164, 4, 0, 0, "Legal"},
    {516, 729, 4064, 5835, 5, 0, 0, "B5"},
    {279, 540, 2112, 4264, 6, 0, 0, "EnvMonarch"},
    {312, 624, 2368, 4961, 7, 0, 0, "EnvDL"},
    {459, 649, 3616, 5174, 8, 0, 0, "EnvC5"},
    {297, 684, 2240, 5464, 9, 0, 0, "Com10Envelope"},
    {283, 420, 2144, 3260, 12, 0, 0, "Postcard"},
    {524, 737, 4160, 5906, 14, 0, 0, "16K"},
    {553, 765, 4384, 6142, 15, 0, 0, "Big16K"},
    {369, 524, 2848, 4134, 16, 0, 0, "32K"},
    {383, 553, 2976, 4371, 17, 0, 0, "Big32K"},
    {298, 420, 2272, 3260, 19, 0, 0, "A6"},
    {499, 709, 3936, 5670, 20, 0, 0, "IOSB5"},
    {522, 756, 4128, 6064, 21, 0, 0, "Executive"},
    {612, 936, 4864, 7560, 22, 0, 0, "Folio"},
    {612, 972, 4864, 7866, 23, 0, 0, "Oficio"},
    {396, 612, 3072, 4864, 24, 0, 0, "Statement"},
    {323, 459, 2464, 3591, 25, 0, 0, "EnvC6"},
    {340, 652, 2624, 5197, 26, 0, 0, "ZL"},
    {354, 499, 2720, 3922, 28, 0, 0, "B6"},
    kEnd,
};

// Platform M.
constexpr PAPER_SIZE_INFO gPaperSizeArray_Nimbrel_Sarvel[kNimbrelSarvelRows + 1] = {
    {420, 595, 3264, 4736, 11, 0, 0, "A5"},
    {595, 842, 4736, 6784, 9, 0, 0, "A4"},
    {612, 792, 4864, 6368, 1, 0, 0, "Letter"},
    {612, 1008, 4864, 8192, 5, 0, 0, "Legal"},
    {516, 729, 4064, 5856, 13, 0, 0, "B5"},
    {279, 540, 2112, 4288, 37, 0, 0, "EnvMonarch"},
    {312, 624, 2368, 4992, 27, 0, 0, "EnvDL"},
    {459, 649, 3616, 5184, 28, 0, 0, "EnvC5"},
    {297, 684, 2240, 5472, 20, 0, 0, "Com10Envelope"},
    {283, 420, 2144, 3264, 43, 0, 0, "Postcard"},
    {524, 737, 4160, 5920, 263, 0, 0, "16K"},
    {553, 765, 4384, 6144, 264, 0, 0, "Big16K"},
    {369, 524, 2848, 4160, 266, 0, 0, "32K"},
    {383, 553, 2976, 4384, 260, 0, 0, "Big32K"},
    {298, 420, 2272, 3264, 70, 0, 0, "A6"},
    {499, 709, 3936, 5696, 34, 0, 0, "IOSB5"},
    {522, 756, 4128, 6080, 7, 0, 0, "Executive"},
    {612, 936, 4864, 7584, 14, 0, 0, "Folio"},
    {612, 972, 4864, 7872, 269, 0, 0, "Oficio"},
    {396, 612, 3072, 4864, 6, 0, 0, "Statement"},
    {323, 459, 2464, 3616, 31, 0, 0, "EnvC6"},
    {340, 652, 2624, 5216, 270, 0, 0, "ZL"},
    {354, 499, 2720, 3936, 271, 0, 0, "B6"},
    kEnd,
};

namespace {

template <size_t N>
constexpr bool well_formed(const PAPER_SIZE_INFO (&table)[N])
{
    for (size_t i = 0; i + 1 < N; ++i) {
        const PAPER_SIZE_INFO &row = table[i];
        // Whole bytes per line, so that dithered lines start on a byte.
        if (row.cupsPaperW <= 0 || row.cupsPaperH <= 0 || row.fwPaperW % 8 != 0 || row.fwPaperH <= 0 ||
            row.strPageSize[0] == '\0')
            return false;
    }
    return table[N - 1].cupsPaperW == -1 && table[N - 1].fwPaperW == 0;
}

static_assert(well_formed(gPaperSizeArray_Belvar) && well_formed(gPaperSizeArray_BelvarMFP) && well_formed(gPaperSizeArray_Oskel_Drevan) &&
                  well_formed(gPaperSizeArray_Nimbrel_Sarvel),
              "paper rows are positive, byte-aligned and named; each table ends with the -1 row");

const PAPER_SIZE_INFO *const kGroupTable[5] = {nullptr, gPaperSizeArray_Belvar, gPaperSizeArray_BelvarMFP, gPaperSizeArray_Oskel_Drevan, gPaperSizeArray_Nimbrel_Sarvel};

struct PlatformName {
    const char *text;
    int platform;
    const PAPER_SIZE_INFO *table;
};

constexpr PlatformName kPlatformNames[] = {
    {"PLATFORM_M", PLATFORM_M, gPaperSizeArray_Nimbrel_Sarvel},
    {"PLATFORM_C", PLATFORM_C, gPaperSizeArray_Belvar},
    {"PLATFORM_Z", PLATFORM_Z, gPaperSizeArray_Oskel_Drevan},
};

} // namespace

const PAPER_SIZE_INFO *GetPaperSizeArray(const char *pPPDFile, int *pPlatform)
{
    for (int group = 1; group <= 4; ++group) {
        for (const auto &model : varkon::kVarkonModels) {
            if (model.group == group && std::strcmp(model.modelName, pPPDFile) == 0) {
                *pPlatform = varkon::kModelGroupPlatform[group];
                return kGroupTable[group];
            }
        }
    }
    *pPlatform = PLATFORM_NONE;
    return nullptr;
}

int GetPaperArrayIndex(const unsigned cupsPaperSize[2], const PAPER_SIZE_INFO *paperTypeArray, int32_t *pFeed)
{
    // A5 announced one point wider is the long-edge-fed A5 of the PPDs.
    if (cupsPaperSize[0] == 421 && cupsPaperSize[1] == 595) {
        *pFeed = 1;
        return 0;
    }
    for (int i = 0; paperTypeArray[i].cupsPaperW != -1; ++i) {
        if (cupsPaperSize[0] == static_cast<unsigned>(paperTypeArray[i].cupsPaperW) &&
            cupsPaperSize[1] == static_cast<unsigned>(paperTypeArray[i].cupsPaperH))
            return i;
    }
    return -1;
}

void isCutThePaper(cups_page_header2_t *header, const PAPER_SIZE_INFO *paperSizeArray, int num_option,
                   cups_option_t *options)
{
    if (header->PageSize[0] <= 612 || header->PageSize[1] <= 1008)
        return;
    const char *pageSize = pfcupsGetOption("PageSize", num_option, options);
    if (pageSize == nullptr)
        return;
    for (int i = 0; paperSizeArray[i].cupsPaperW != -1; ++i) {
        if (std::strcmp(pageSize, paperSizeArray[i].strPageSize) == 0) {
            header->PageSize[0] = static_cast<unsigned>(paperSizeArray[i].cupsPaperW);
            header->PageSize[1] = static_cast<unsigned>(paperSizeArray[i].cupsPaperH);
            return;
        }
    }
}

namespace varkon {

const PAPER_SIZE_INFO *platform_paper_table(const char *platformText, int *pPlatform)
{
    for (const auto &name : kPlatformNames) {
        if (strcasecmp(platformText, name.text) == 0) {
            *pPlatform = name.platform;
            return name.table;
        }
    }
    *pPlatform = PLATFORM_NONE;
    return nullptr;
}

} // namespace varkon
