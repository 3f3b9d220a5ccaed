// SPDX-License-Identifier: GPL-2.0-or-later
// A descriptor with one owner: the filters' sockets, files and pipe ends, and
// the tools' and tests' own, closed whichever way a function leaves.
#pragma once

namespace varkon {

class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd();
    UniqueFd(UniqueFd &&other) noexcept : fd_(other.release()) {}
    UniqueFd &operator=(UniqueFd &&other) noexcept;
    UniqueFd(const UniqueFd &) = delete;
    UniqueFd &operator=(const UniqueFd &) = delete;

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }

    // Gives the descriptor up without closing it.
    int release();
    // Closes the descriptor held, if any, and holds `fd` instead. Returns
    // close()'s result for the old one (0 when none was held), since a close
    // that fails may be the first sign that written data did not arrive.
    int reset(int fd = -1);

private:
    int fd_ = -1;
};

} // namespace varkon
