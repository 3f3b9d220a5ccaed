// SPDX-License-Identifier: GPL-2.0-or-later
// Writing a whole buffer to a descriptor, whatever the descriptor does:
// partial writes, interrupted calls and non-blocking descriptors.
#pragma once

#include <cstddef>
#include <string_view>

namespace varkon {

// Writes all `count` bytes of `data` to `fd`. Returns the bytes written; when
// that is short, errno says why.
size_t write_all(int fd, const void *data, size_t count);

inline size_t write_all(int fd, std::string_view data) { return write_all(fd, data.data(), data.size()); }

} // namespace varkon
