// SPDX-License-Identifier: GPL-2.0-or-later
// The printer options of a model as IPP vendor attributes, and their values
// turned back into the CUPS options text the raster core parses, with the
// option names and choices of the model's PPD.
#pragma once

#include "model_capabilities.h"

#include <cups/cups.h>

#include <cstddef>
#include <string>
#include <vector>

namespace varkon::app {

enum class VendorKind {
    Boolean, // "true"/"false" in IPP; the PPD's True/False
    Integer, // one of the choices' numbers
    Keyword, // one of the choices' keywords
};

struct VendorChoice {
    const char *ipp;   // IPP value as text: "3", "long-edge"
    const char *ppd;   // PPD choice name: "3", "DuplexNoTumble"
    const char *label; // shown in the web interface
};

struct VendorOption {
    const char *ipp;   // IPP attribute name: "density"
    const char *ppd;   // PPD option name: "Density"
    const char *label; // shown in the web interface
    VendorKind kind;
    std::vector<VendorChoice> choices; // Integer and Keyword options
    const char *defaultValue;          // IPP value
};

// The vendor options of a model, in the order the web interface shows them.
std::vector<VendorOption> vendor_options(const ModelCapabilities &caps);

// Puts NAME-supported and NAME-default of every option into `attrs`.
void add_vendor_attributes(const std::vector<VendorOption> &options, ipp_t *attrs);

// "Density=2 TonerMode=False ...": the job's vendor values as PPD choices,
// for the raster core. Where the job has none, or one that is not a choice,
// the printer's NAME-default from `defaults` (may be nullptr), else the option's own.
std::string vendor_options_text(const std::vector<VendorOption> &options, int num_values, cups_option_t *values,
                                ipp_t *defaults);

// The strings file that gives every option and choice its label.
std::string vendor_strings(const std::vector<std::vector<VendorOption>> &all);

} // namespace varkon::app
