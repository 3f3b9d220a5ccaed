// SPDX-License-Identifier: GPL-2.0-or-later
// A USB printer emulated with umockdev for the liaison tests and the Printer
// Application's USB discovery: its sysfs entry
// and descriptors (a .umockdev description) and its answers to control
// transfers (a usbmon capture that umockdev replays in order). A test program
// runs itself again under umockdev-run with the printer attached; that copy
// runs one named probe instead of the tests and reports on standard output.
#pragma once

#include "run_process.h"

#include <string>
#include <vector>

namespace varkon::test {

// One answer to the printer's vendor status request (0xC1, request 0).
struct UsbStatusAnswer {
    std::vector<unsigned char> data; // the bytes returned
    bool stall = false;              // the request fails with a stall instead
};

struct EmulatedUsbPrinter {
    bool attached = true;               // false: an empty bus
    bool has_serial = true;             // false: iSerialNumber 0, no serial string
    std::string serial = "VKA000123";   // the serial-number string (may be empty)
    uint16_t status_length = 1024;      // wLength the status requests carry
    std::vector<UsbStatusAnswer> status_answers; // in request order; later requests time out
    // When set, the printer first answers what PAPPL asks of a USB printer it
    // lists: its configuration, then its IEEE 1284 device ID (class request 0,
    // 1026 bytes asked).
    std::string pappl_device_id;
};

// Runs /proc/self/exe under umockdev-run with `printer` attached and
// VARKON_USB_PROBE=`probe` in its environment.
ProcessResult run_with_usb_printer(const EmulatedUsbPrinter &printer, const std::string &probe,
                                   const ProcessOptions &options = {});

// Runs `argv` under umockdev-run with `printer` attached.
ProcessResult run_under_usb_printer(const EmulatedUsbPrinter &printer, const std::vector<std::string> &argv,
                                    const ProcessOptions &options = {});

// In main(): the probe name when this process is such a copy, else nullptr.
const char *usb_probe_requested();

} // namespace varkon::test
