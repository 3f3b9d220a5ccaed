// SPDX-License-Identifier: GPL-2.0-or-later
// What a host-based model can do, as both its PPD and the Printer Application
// describe it: its platform and paper table as the filter finds them, its
// duplex, the page sizes with their names and imageable margins, and its
// IEEE 1284 device ID. Derived from the model and paper tables only.
#pragma once

#include "model_table.h"
#include "paper_tables.h"

#include <string>

namespace varkon {

struct PaperTable {
    const char *name; // "belvar", ...: names the PPD media include
    const PAPER_SIZE_INFO *rows;
};

extern const PaperTable kPaperTables[4];

// How a model without a duplexer prints both sides.
enum class ManualDuplex {
    None,          // it has a duplexer
    Option,        // the ManualDuplex option (platforms C and M)
    DuplexRequest, // platform Z: a Duplex request is printed by hand
};

struct ModelCapabilities {
    const VarkonModel *model = nullptr;
    int platform = 0;
    const PaperTable *paper = nullptr;
    bool duplexer = false;
    ManualDuplex manualDuplex = ManualDuplex::None;
    bool resolution1200 = false; // platform C: a 1200 dpi raster (the DPI1200 option)
    bool fineMode = false;       // platform Z: the FineMode option
};

// False when the filter finds no platform or paper table for the model.
bool model_capabilities(const VarkonModel &model, ModelCapabilities *out);

// The model of that PPD ModelName, or nullptr.
const VarkonModel *find_model(const char *modelName);

// "PJL,VKGDI-Z": the command set a printer of the platform reports; nullptr for none.
const char *platform_command_set(int platform);

// "MFG:Varkon;MDL:Oskel 301;CMD:PJL,VKGDI-Z;"
std::string model_device_id(const VarkonModel &model, int platform);

// Lengths in hundredths of a point.
struct ImageableMargins {
    int left, bottom, right, top;
};

// Where the printer puts the row's W x H image on the sheet. False when the
// image is larger than the page.
bool imageable_margins(const PAPER_SIZE_INFO &row, ImageableMargins *out);

// "US Letter" for "Letter": the name a person is shown; the name itself when none.
const char *page_size_label(const char *name);

// The default page size of every model.
constexpr char kDefaultPageSize[] = "A4";

} // namespace varkon
