// SPDX-License-Identifier: GPL-2.0-or-later
// Closing and handing on the descriptor of a UniqueFd.
#include "unique_fd.h"

#include <unistd.h>

#include <utility>

namespace varkon {

UniqueFd::~UniqueFd() { reset(); }

UniqueFd &UniqueFd::operator=(UniqueFd &&other) noexcept
{
    if (this != &other)
        reset(other.release());
    return *this;
}

int UniqueFd::release() { return std::exchange(fd_, -1); }

int UniqueFd::reset(int fd)
{
    if (fd == fd_ && fd >= 0)
        return 0;
    const int old = std::exchange(fd_, fd);
    return old >= 0 ? close(old) : 0;
}

} // namespace varkon
