// SPDX-License-Identifier: GPL-2.0-or-later
// Printer bytes to a PAPPL device.
#include "device_sink.h"

#include <cerrno>

namespace varkon::app {

size_t DeviceSink::write(const unsigned char *data, size_t count)
{
    if (count == 0)
        return 0;
    errno = 0;
    const ssize_t written = papplDeviceWrite(device_, data, count);
    if (written < 0 || static_cast<size_t>(written) != count) {
        if (errno == 0)
            errno = EIO;
        return 0;
    }
    return count;
}

} // namespace varkon::app
