// SPDX-License-Identifier: GPL-2.0-or-later
// The unlinked files in which the output captures collect what code under
// test writes, and reading them back.
#pragma once

#include <string>

namespace varkon::test {

// A new file in /tmp, already unlinked, named after `prefix` while it had a
// name; its descriptor, or -1 with errno set.
int open_scratch_file(const std::string &prefix);

// All that the file holds from its start, wherever its offset stands; empty
// for a descriptor that cannot be read so (a pipe, a write-only device).
std::string read_from_start(int fd);

} // namespace varkon::test
