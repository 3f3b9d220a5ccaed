// SPDX-License-Identifier: GPL-2.0-or-later
// Decoded pages as image files: PBM (1-bit pages), PGM (2-bit pages, levels as
// gray) and PNG, named page-001.pbm, page-002.pbm ... in order of appearance.
#pragma once

#include "varkon_decode.h"

#include <string>

namespace varkon::decode {

// "page-007.pbm" for index 7 and extension "pbm".
std::string page_file_name(size_t index, const char *extension);
// "pbm" or "pgm", as the page's depth asks.
const char *pnm_extension(const Page &page);

// Each returns an empty string on success, else what went wrong.
std::string write_pnm(const Page &page, const std::string &path);
std::string write_png(const Page &page, const std::string &path);

} // namespace varkon::decode
