// SPDX-License-Identifier: GPL-2.0-or-later
// The end of a manual-duplex job: the odd sides are out, the user turns the
// stack, and the even sides follow in reverse from their spool file.
#pragma once

#include "prnt.h"

#include <cups/raster.h>

namespace varkon {

// Message to the user, remaining odd passes, the manual-duplex command, the
// even pages in reverse order with a blank page for an odd page count, for
// every copy. 1 when all was sent.
struct ManualDuplexEnd {
    bool collate = false;
    unsigned copies = 1;
    bool reverse = false;
    const char *message = "";          // the PPD's MDuplex text
    cups_page_header2_t header{};      // the last page's header, for the blank page
    GDI_START_PAGE_PARAM *startPageParam = nullptr;
    int platform = 0;
};
int finish_manual_duplex(const ManualDuplexEnd &job);

} // namespace varkon
