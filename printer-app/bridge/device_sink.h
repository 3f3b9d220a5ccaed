// SPDX-License-Identifier: GPL-2.0-or-later
// The raster core's printer sink on a PAPPL device: every printer byte of a
// job goes through papplDeviceWrite.
#pragma once

#include "job_context.h"

#include <pappl/pappl.h>

namespace varkon::app {

class DeviceSink : public PrinterSink {
public:
    explicit DeviceSink(pappl_device_t *device) : device_(device) {}
    // All of it, or 0 when the device did not take it (it went away, say).
    size_t write(const unsigned char *data, size_t count) override;

private:
    pappl_device_t *device_;
};

} // namespace varkon::app
