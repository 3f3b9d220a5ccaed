// SPDX-License-Identifier: GPL-2.0-or-later
// Whether a libcups call that the program takes over came from PAPPL: the
// program changes what PAPPL 1.3.1 does through a few of them and leaves
// every other caller, libcups itself among them, to libcups.
#pragma once

namespace varkon::app {

// Whether the return address lies in PAPPL's library.
bool called_from_pappl(void *returnAddress);

} // namespace varkon::app
