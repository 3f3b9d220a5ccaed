// SPDX-License-Identifier: GPL-2.0-or-later
// Unlinked capture files: made with mkstemp, read back with pread.
#include "scratch_file.h"

#include <stdlib.h>
#include <unistd.h>

#include <vector>

namespace varkon::test {

int open_scratch_file(const std::string &prefix)
{
    std::string path = "/tmp/" + prefix + "-XXXXXX";
    std::vector<char> name(path.begin(), path.end());
    name.push_back('\0');
    const int fd = mkstemp(name.data());
    if (fd >= 0)
        unlink(name.data());
    return fd;
}

std::string read_from_start(int fd)
{
    std::string data;
    char buf[65536];
    off_t offset = 0;
    ssize_t n;
    while ((n = pread(fd, buf, sizeof buf, offset)) > 0) {
        data.append(buf, static_cast<size_t>(n));
        offset += n;
    }
    return data;
}

} // namespace varkon::test
