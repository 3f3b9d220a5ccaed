// SPDX-License-Identifier: GPL-2.0-or-later
// A model's capabilities from the model and paper tables, for the PPD
// generator and the Printer Application alike.
#include "model_capabilities.h"

#include "platform.h"

#include <cstring>

namespace varkon {

const PaperTable kPaperTables[4] = {
    {"belvar", gPaperSizeArray_Belvar},
    {"belvar-mfp", gPaperSizeArray_BelvarMFP},
    {"oskel-drevan", gPaperSizeArray_Oskel_Drevan},
    {"nimbrel-sarvel", gPaperSizeArray_Nimbrel_Sarvel},
};

namespace {

// Indexed by platform code.
constexpr const char *kCommandSets[] = {nullptr, "PJL,VKGDI-C", "PJL,VKGDI-Z", "PJL,VKGDI-M"};
static_assert(PLATFORM_C == 1 && PLATFORM_Z == 2 && PLATFORM_M == 3, "kCommandSets is indexed by platform code");

struct SizeLabel {
    const char *name;
    const char *text;
};

constexpr SizeLabel kSizeLabels[] = {
    {"A4", "A4"},
    {"A5", "A5"},
    {"A6", "A6"},
    {"B5", "JIS B5"},
    {"B6", "B6"},
    {"IOSB5", "ISO B5"},
    {"Letter", "US Letter"},
    {"Legal", "US Legal"},
    {"Executive", "Executive"},
    {"Statement", "Statement"},
    {"Folio", "Folio"},
    {"Oficio", "Oficio"},
    {"Postcard", "Postcard"},
    {"EnvMonarch", "Envelope Monarch"},
    {"EnvDL", "Envelope DL"},
    {"EnvC5", "Envelope C5"},
    {"EnvC6", "Envelope C6"},
    {"Com10Envelope", "Envelope #10"},
    {"ZL", "Envelope ZL"},
    {"16K", "16K"},
    {"Big16K", "Big 16K"},
    {"32K", "32K"},
    {"Big32K", "Big 32K"},
};

// A 600 dpi pixel is 12 hundredths of a point.
constexpr int kHundredthsPerPixel = 12;
constexpr int kQuarterPoint = 25;

} // namespace

bool model_capabilities(const VarkonModel &model, ModelCapabilities *out)
{
    ModelCapabilities found;
    found.model = &model;
    // What the filter itself makes of the model name.
    const PAPER_SIZE_INFO *rows = GetPaperSizeArray(model.modelName, &found.platform);
    for (const PaperTable &table : kPaperTables)
        if (table.rows == rows)
            found.paper = &table;
    if (found.paper == nullptr || found.platform < PLATFORM_C || found.platform > PLATFORM_M)
        return false;
    found.duplexer = model.duplexer;
    if (model.manualDuplex)
        found.manualDuplex = found.platform == PLATFORM_Z ? ManualDuplex::DuplexRequest : ManualDuplex::Option;
    found.resolution1200 = found.platform == PLATFORM_C;
    found.fineMode = found.platform == PLATFORM_Z;
    *out = found;
    return true;
}

const VarkonModel *find_model(const char *modelName)
{
    for (const VarkonModel &model : kVarkonModels)
        if (std::strcmp(model.modelName, modelName) == 0)
            return &model;
    return nullptr;
}

const char *platform_command_set(int platform)
{
    return platform >= PLATFORM_C && platform <= PLATFORM_M ? kCommandSets[platform] : nullptr;
}

std::string model_device_id(const VarkonModel &model, int platform)
{
    const char *command = platform_command_set(platform);
    return std::string("MFG:Varkon;MDL:") + model.designation + ";CMD:" + (command != nullptr ? command : "") + ";";
}

// At the row's margins when it sends any, centred otherwise. Each margin is
// rounded down to a quarter point, so the raster made for the imageable area
// is never smaller than W x H; the filter centres wider lines and drops extra rows.
bool imageable_margins(const PAPER_SIZE_INFO &row, ImageableMargins *out)
{
    const int pageW = row.cupsPaperW * 100, pageH = row.cupsPaperH * 100;
    const int imageW = row.fwPaperW * kHundredthsPerPixel, imageH = row.fwPaperH * kHundredthsPerPixel;
    const bool placed = row.fwPaperMarginX != 0 || row.fwPaperMarginY != 0;
    const int left = placed ? row.fwPaperMarginX * kHundredthsPerPixel : (pageW - imageW) / 2;
    const int top = placed ? row.fwPaperMarginY * kHundredthsPerPixel : (pageH - imageH) / 2;
    const int right = pageW - imageW - left, bottom = pageH - imageH - top;
    if (left < 0 || top < 0 || right < 0 || bottom < 0)
        return false;
    auto down = [](int v) { return v / kQuarterPoint * kQuarterPoint; };
    *out = {down(left), down(bottom), down(right), down(top)};
    return true;
}

const char *page_size_label(const char *name)
{
    for (const SizeLabel &label : kSizeLabels)
        if (std::strcmp(label.name, name) == 0)
            return label.text;
    return name;
}

} // namespace varkon
