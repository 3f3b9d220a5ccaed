// SPDX-License-Identifier: GPL-2.0-or-later
// The number reading of the page-size admission on arbitrary lines: the page
// dictionary and page-setup call of the custom-size check, and the A5 test's
// size of a line.
#include "fuzz_input.h"
#include "page_size_admission.h"

#include <string>

using varkon::fuzz::require;

namespace {

// A size the A5 test reads is a run of at most 9 digits, or -1 when missing.
bool plausible(long value)
{
    return value == -1 || (value >= 0 && value <= 999999999);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string line(reinterpret_cast<const char *>(data), size);
    varkon::dictionary_line_fits(line);
    varkon::setup_call_line_fits(line);
    if (const auto stated = varkon::stated_page_size(line))
        require(plausible(stated->width) && plausible(stated->height), "stated sizes are digit runs or -1");
    return 0;
}
