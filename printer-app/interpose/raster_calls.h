// SPDX-License-Identifier: GPL-2.0-or-later
// The PWG raster PAPPL reads while a client sends it goes through the
// program's own reader (raster_calls.cpp takes over libcups' raster calls).
#pragma once

#include <string>

namespace varkon::app {

// Whether libcups' own calls were found for the streams left to it. Calling
// it also keeps the calls in the program.
bool pwg_raster_read_by_program();

// Why the last PWG raster stream read through us on this thread ended
// inside a page or at a page header that was refused, and forgets it; "" when
// it ended between pages. PAPPL takes either for the end of the document, and
// would report the job as printed: the job's end callback runs on the thread
// that read the stream and asks here.
std::string take_raster_problem();

} // namespace varkon::app
