// SPDX-License-Identifier: GPL-2.0-or-later
// Page-size checks of Jurvex jobs before anything is sent: custom sizes outside
// the printer's range are refused, and A5 fed long edge first is recognised.
#pragma once

#include <optional>
#include <string>
#include <string_view>

// 1 admits the job, 0 refuses it.
int isSupportCustomPageSize(const char *options, const char *workingPath);

// True for an A5 job fed long edge first.
bool isA5PageSize(const char *options, const char *workingPath);

namespace varkon {

// A page size in points as a page-size line states it; -1 where a number is
// missing or too long to be one.
struct PageSize {
    long width = -1, height = -1;
};

// The number reading of both checks, one line at a time, without the file.
// Whether a page dictionary line ("<</Type/Page/MediaBox [...]") states a size
// the printer can feed; nothing when the line has no box to read.
std::optional<bool> dictionary_line_fits(const std::string &line);
// Whether a page-setup call line ("w h pdfSetupPaper") states a size the printer can feed.
bool setup_call_line_fits(const std::string &line);
// The size an A5 test reads from one line; nothing when the line states none.
std::optional<PageSize> stated_page_size(std::string_view line);

// The first line of the file that contains `pattern`, letters compared without
// case, without its line end; nothing when there is none or the file cannot be read.
std::optional<std::string> first_line_containing(const char *path, std::string_view pattern);

} // namespace varkon
