// SPDX-License-Identifier: GPL-2.0-or-later
// The models that interpret PostScript themselves, all printed through
// pstoVarkon. Their names and device IDs are built from pstoVarkon's own
// family lists (printer_families.h), so that every PPD classifies as the
// filter expects: a Jurvex PPD and device ID hold the Jurvex designation, a
// Halvex PPD carries its nickname and device-ID fields exactly, and the
// generic model holds neither.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace varkon::ppd {

enum class PsFamily { Jurvex, Halvex, Generic };

struct PsModel {
    PsFamily family = PsFamily::Generic;
    std::string designation;   // "Jurvex 21"; empty for the generic model
    std::string modelName;     // PPD ModelName, "Varkon Jurvex 21 Series PS"
    std::string shortNickName; // what pstoVarkon classifies without a device ID
    std::string deviceId;      // IEEE 1284 device ID the printer reports
    bool duplexer = false;
    int pagesPerMinute = 0;
};

// Every Jurvex model, every Halvex model, then the generic one.
std::vector<PsModel> ps_models();

// "Jurvex 21" -> "varkon-jurvex-21.ppd"; the generic model -> "varkon-postscript.ppd".
std::string ps_file_name(const PsModel &model);

// The 8.3 name: "vj21.ppd", "vhm80.ppd", "vps.ppd".
std::string ps_pc_file_name(const PsModel &model);

// False, with a message on stderr, when a model's names or device ID would not
// classify as its family; the build then stops instead of shipping such a PPD.
bool ps_model_classifies(const PsModel &model);

// The ppdc entry of one model: its identity, family fragment and duplex fragment.
void write_ps_model(const PsModel &model, std::ostream &out);

} // namespace varkon::ppd
