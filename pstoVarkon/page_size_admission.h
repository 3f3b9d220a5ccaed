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

// The first line of the file that contains `pattern`, letters compared without
// case, without its line end; nothing when there is none or the file cannot be read.
std::optional<std::string> first_line_containing(const char *path, std::string_view pattern);

} // namespace varkon
