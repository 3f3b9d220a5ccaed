// SPDX-License-Identifier: GPL-2.0-or-later
// Temporary files of the filter, from the CUPS temporary directory, removed
// unless handed on: no exit path leaves one behind.
#pragma once

#include "unique_fd.h"

#include <cups/cups.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <utility>
#include <vector>

namespace varkon {

class TempFile {
public:
    // A new empty file; check with valid(). `field` is the size of the path
    // field that CUPS fills.
    explicit TempFile(std::size_t field)
    {
        std::vector<char> path(field, '\0');
        fd_.reset(cupsTempFd(path.data(), static_cast<int>(path.size())));
        if (!fd_.valid())
            return;
        path_ = path.data();
        // The tools the filter starts must not inherit it by accident.
        fcntl(fd_.get(), F_SETFD, FD_CLOEXEC);
    }
    ~TempFile()
    {
        close_fd();
        if (!path_.empty())
            unlink(path_.c_str());
    }
    TempFile(const TempFile &) = delete;
    TempFile &operator=(const TempFile &) = delete;

    bool valid() const { return fd_.valid(); }
    int fd() const { return fd_.get(); }
    const std::string &path() const { return path_; }

    void close_fd() { fd_.reset(); }

    // Whether the file holds any data.
    bool has_data() const
    {
        struct stat st {};
        return !path_.empty() && stat(path_.c_str(), &st) == 0 && st.st_size > 0;
    }

    // Hands the file on: it is no longer removed here.
    std::string release()
    {
        close_fd();
        return std::exchange(path_, std::string());
    }

private:
    UniqueFd fd_;
    std::string path_;
};

} // namespace varkon
