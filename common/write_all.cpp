// SPDX-License-Identifier: GPL-2.0-or-later
// The write-all loop of both filters and their tools.
#include "write_all.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>

namespace varkon {

size_t write_all(int fd, const void *data, size_t count)
{
    const auto *bytes = static_cast<const unsigned char *>(data);
    size_t done = 0;
    while (done < count) {
        const ssize_t n = write(fd, bytes + done, count - done);
        if (n > 0)
            done += static_cast<size_t>(n);
        else if (n < 0 && errno == EINTR)
            continue;
        else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            // A non-blocking descriptor from the backend: wait as a blocking write would.
            pollfd ready = {fd, POLLOUT, 0};
            if (poll(&ready, 1, -1) < 0 && errno != EINTR)
                break;
        } else
            break;
    }
    return done;
}

} // namespace varkon
