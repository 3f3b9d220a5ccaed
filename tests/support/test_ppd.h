// SPDX-License-Identifier: GPL-2.0-or-later
// Small PPD files for tests: a model name, the driver texts the raster filter
// reads (cupsIPPReason PlatForm, SupportManualDuplex, MDuplex) and the option
// defaults that platform Z completes the job options from.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace varkon::test {

struct TestPpd {
    std::string modelName = "Varkon Test Printer";
    std::string platform;            // PlatForm text, e.g. "PLATFORM_Z"; empty: no such entry
    std::string supportManualDuplex; // e.g. "TRUE"; empty: no such entry
    std::string manualDuplexMessage; // MDuplex text; empty: no such entry
    // Boolean options and their default choice, e.g. {"TonerMode", "True"}.
    std::vector<std::pair<std::string, std::string>> booleans;
    std::string densityDefault;      // default choice of a Density option; empty: no option
};

// Writes the PPD to `path` and returns `path`.
std::string write_test_ppd(const std::string &path, const TestPpd &ppd);

} // namespace varkon::test
