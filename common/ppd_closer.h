// SPDX-License-Identifier: GPL-2.0-or-later
// An owning handle for a PPD opened through libcups, for the filter, the
// harnesses, the benchmarks and the tests that read PPDs.
#pragma once

#include <cups/ppd.h>

#include <memory>

namespace varkon {

struct PpdCloser {
    void operator()(ppd_file_t *ppd) const { ppdClose(ppd); }
};
using PpdFile = std::unique_ptr<ppd_file_t, PpdCloser>;

} // namespace varkon
