// SPDX-License-Identifier: GPL-2.0-or-later
// One driver per host-based model, made from the model and paper tables once
// per process: its name, device ID, media and vendor options; and the choice
// of driver for a printer that reports an IEEE 1284 device ID.
#pragma once

#include "media_list.h"
#include "model_capabilities.h"
#include "vendor_options.h"

#include <pappl/pappl.h>

#include <string>
#include <vector>

namespace varkon::app {

// Shown when the user must turn the stack over, as the PPDs say it.
constexpr char kManualDuplexMessage[] =
    "Turn the printed stack over and load it into the tray to print the back sides";

struct AppDriver {
    ModelCapabilities caps;
    std::string name;     // "varkon_oskel_302mdw"
    std::string deviceId; // "MFG:Varkon;MDL:Oskel 302mdw;CMD:PJL,VKGDI-Z;"
    std::vector<MediaSize> media;
    std::vector<VendorOption> vendor;
};

// Every driver, in the model table's order.
const std::vector<AppDriver> &app_drivers();

// The driver of that name, or nullptr.
const AppDriver *find_driver(const char *name);

// The list PAPPL is given; it points into app_drivers().
std::vector<pappl_pr_driver_t> pappl_driver_list();

// The page size of a PWG media name in the driver's paper table, or nullptr.
const MediaSize *find_media(const AppDriver &driver, const char *pwgName);

// The driver for a printer's device ID (MFG Varkon and the model's MDL), or nullptr.
const char *driver_for_device_id(const char *deviceId);

} // namespace varkon::app
