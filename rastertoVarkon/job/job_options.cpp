// SPDX-License-Identifier: GPL-2.0-or-later
// The job feature table: evaluation per page, platform-Z completion of the
// options text from the PPD defaults, the PPD driver texts and the header log.
#include "job_options.h"

#include "cupsdll.h"
#include "job_context.h"
#include "raster_fields.h"

#include <strings.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

const PRINT_FUNC_INFO kDefaultPrintFuncInfo[FUNC_COUNT] = {
    {"Duplex", 0},       {"Sides", 0},        {"ManualDuplex", 0}, {"Density", 2},    {"TonerMode", 0},
    {"FeedLongEdge", 0}, {"outputorder", 0},  {"DPI1200", 0},      {"NegativePrint", 0},
    {"InputSlot", 0},    {"ImageRotation", 0}, {"Collate", 0},     {"FineMode", 0},
};

namespace {

bool same_text(const char *a, const char *b) { return strcasecmp(a, b) == 0; }

int duplex_value(const char *text)
{
    if (same_text(text, "DuplexNoTumble") || same_text(text, "two-sided-long-edge"))
        return 1;
    if (same_text(text, "DuplexTumble") || same_text(text, "two-sided-short-edge"))
        return 2;
    return 0;
}

int input_slot_value(const char *text)
{
    if (same_text(text, "ManualFeed"))
        return 1;
    if (same_text(text, "AutoFeed"))
        return 2;
    return 0; // "Auto" and every tray name the printers do not know
}

void evaluate_entry(PRINT_FUNC_INFO &entry, int index, const char *text)
{
    switch (index) {
    case AUTODUPLEX:
    case AUTODUPLONGEDGE:
        entry.value = duplex_value(text);
        break;
    case DENSITY:
        entry.value = static_cast<int32_t>(std::strtol(text, nullptr, 10));
        break;
    case INPUTSLOT:
        entry.value = input_slot_value(text);
        break;
    default:
        if (same_text(text, "true"))
            entry.value = 1;
        break;
    }
}

// Appends `text` to the 8192-byte options text when it fits whole: a cut
// option name would reach the printer as some other option.
void append_parameter(char *parameters, const char *text)
{
    constexpr size_t kCapacity = 8192;
    const size_t used = strnlen(parameters, kCapacity - 1);
    const size_t length = std::strlen(text);
    if (used + length < kCapacity)
        std::memcpy(parameters + used, text, length + 1);
}

// The PPD default of a boolean option becomes a bare option name, which the
// CUPS option parser reads as "true".
void complete_boolean(char *parameters, const char *argv5, ppd_file_t *ppd, const char *name)
{
    if (std::strstr(argv5, name) != nullptr) // also covers "no" + name
        return;
    ppd_option_t *option = ppdFindOption(ppd, name);
    if (option == nullptr) {
        varkon::job_logf("No find %s option\n", name);
        return;
    }
    if (same_text(option->defchoice, "True")) {
        char text[64];
        std::snprintf(text, sizeof text, " %s", name);
        append_parameter(parameters, text);
    }
}

void complete_density(char *parameters, const char *argv5, ppd_file_t *ppd)
{
    if (std::strstr(argv5, "Density") != nullptr)
        return;
    ppd_option_t *option = ppdFindOption(ppd, "Density");
    if (option == nullptr) {
        varkon::job_logf("No find Density option\n");
        return;
    }
    const long level = std::strtol(option->defchoice, nullptr, 10);
    if (level == 0 || level == 2 || level == 4) {
        char text[32];
        std::snprintf(text, sizeof text, " Density=%ld", level);
        append_parameter(parameters, text);
    }
}

} // namespace

void GetFunctionValue(PRINT_FUNC_INFO *pPrntFuncInfo, int num_option, cups_option_t *options,
                      const cups_page_header2_t *header)
{
    int duplex = 0;
    if (varkon::field_value(header->Duplex) != 0)
        duplex = varkon::field_value(header->Tumble) != 0 ? 2 : 1;
    pPrntFuncInfo[AUTODUPLEX].value = duplex;
    varkon::job_logf("DEBUG: ##Duplex = %d\n", duplex);

    for (int i = 0; i < FUNC_COUNT; ++i) {
        const char *text = pfcupsGetOption(pPrntFuncInfo[i].name, num_option, options);
        if (text != nullptr)
            evaluate_entry(pPrntFuncInfo[i], i, text);
    }
}

void checkOptionKey(char *parameters, const char *argv5, ppd_file_t *ppd)
{
    for (const char *name : {"FeedLongEdge", "TonerMode", "ImageRotation", "NegativePrint"})
        complete_boolean(parameters, argv5, ppd, name);
    complete_density(parameters, argv5, ppd);
}

void log_page_header2(const cups_page_header2_t *h)
{
    const auto i = [](unsigned v) { return static_cast<int>(v); };
    const auto e = [](const auto &field) { return static_cast<int>(varkon::field_value(field)); };
    varkon::job_logf("DEBUG: Duplex = %d\n", e(h->Duplex));
    varkon::job_logf("DEBUG: HWResolution = [ %d %d ]\n", i(h->HWResolution[0]), i(h->HWResolution[1]));
    varkon::job_logf("DEBUG: ImagingBoundingBox = [ %d %d %d %d ]\n", i(h->ImagingBoundingBox[0]),
                 i(h->ImagingBoundingBox[1]), i(h->ImagingBoundingBox[2]), i(h->ImagingBoundingBox[3]));
    varkon::job_logf("DEBUG: Margins = [ %d %d ]\n", i(h->Margins[0]), i(h->Margins[1]));
    varkon::job_logf("DEBUG: ManualFeed = %d\n", e(h->ManualFeed));
    varkon::job_logf("DEBUG: MediaPosition = %d\n", i(h->MediaPosition));
    varkon::job_logf("DEBUG: NumCopies = %d\n", i(h->NumCopies));
    varkon::job_logf("DEBUG: Orientation = %d\n", e(h->Orientation));
    varkon::job_logf("DEBUG: PageSize = [ %d %d ]\n", i(h->PageSize[0]), i(h->PageSize[1]));
    varkon::job_logf("DEBUG: cupsWidth = %d\n", i(h->cupsWidth));
    varkon::job_logf("DEBUG: cupsHeight = %d\n", i(h->cupsHeight));
    varkon::job_logf("DEBUG: cupsMediaType = %d\n", i(h->cupsMediaType));
    varkon::job_logf("DEBUG: cupsBitsPerColor = %d\n", i(h->cupsBitsPerColor));
    varkon::job_logf("DEBUG: cupsBitsPerPixel = %d\n", i(h->cupsBitsPerPixel));
    varkon::job_logf("DEBUG: cupsBytesPerLine = %d\n", i(h->cupsBytesPerLine));
    varkon::job_logf("DEBUG: cupsColorOrder = %d\n", e(h->cupsColorOrder));
    varkon::job_logf("DEBUG: cupsColorSpace = %d\n", e(h->cupsColorSpace));
    varkon::job_logf("DEBUG: cupsCompression = %d\n", i(h->cupsCompression));
}

namespace varkon {

int read_ppd_text(ppd_file_t *ppd, const char *name, char *text)
{
    text[0] = '\0';
    if (ppd == nullptr || pfppdLocalizeIPPReason(ppd, name, nullptr, text, 1024) == nullptr) {
        text[0] = '\0';
        return 0;
    }
    return 1;
}

} // namespace varkon
