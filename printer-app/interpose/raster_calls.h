// SPDX-License-Identifier: GPL-2.0-or-later
// The PWG raster PAPPL reads while a client sends it goes through the
// program's own reader (raster_calls.cpp takes over libcups' raster calls).
#pragma once

namespace varkon::app {

// Whether libcups' own calls were found for the streams left to it. Calling
// it also keeps the calls in the program.
bool pwg_raster_read_by_program();

} // namespace varkon::app
