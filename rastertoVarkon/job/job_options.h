// SPDX-License-Identifier: GPL-2.0-or-later
// The job feature table: the job's options condensed into 13 integer features.
#pragma once

#include <cups/cups.h>
#include <cups/ppd.h>
#include <cups/raster.h>

#include <cstdint>

enum FuncName {
    AUTODUPLEX = 0,
    AUTODUPLONGEDGE,
    MANUALDUPLEX,
    DENSITY,
    TONERMODE,
    LONGEDGEFEED,
    REVERSE,
    DPI1200,
    NEGATIVEPRINT,
    INPUTSLOT,
    IMAGEROTATION,
    COLLATE,
    FINEMODE,
    FUNC_COUNT
};

struct PRINT_FUNC_INFO {
    const char *name = nullptr; // the CUPS option looked up
    int32_t value = 0;
};

// The defaults the table is copied from before the first page.
extern const PRINT_FUNC_INFO kDefaultPrintFuncInfo[FUNC_COUNT];

// Evaluates the table for one page from the page header and the parsed options.
void GetFunctionValue(PRINT_FUNC_INFO *pPrntFuncInfo, int num_option, cups_option_t *options,
                      const cups_page_header2_t *header);

// Platform Z: completes the options text in `parameters` (8192 bytes, already a
// copy of argv5) from the PPD defaults.
void checkOptionKey(char *parameters, const char *argv5, ppd_file_t *ppd);

// Writes the header log to standard error.
void log_page_header2(const cups_page_header2_t *header);

namespace varkon {

// Reads the localised text of the PPD's cupsIPPReason `name` into `text`
// (1024 bytes). Returns 1 when the PPD has it, else 0 with `text` empty.
int read_ppd_text(ppd_file_t *ppd, const char *name, char *text);

} // namespace varkon
