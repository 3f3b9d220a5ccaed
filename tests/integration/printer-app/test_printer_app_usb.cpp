// SPDX-License-Identifier: GPL-2.0-or-later
// A USB printer plugged in, emulated with umockdev: PAPPL's autoadd finds it
// by its IEEE 1284 device ID, and the server gives it the driver of the model
// the ID names (with or without the duplexer); a device of another maker gets
// no printer.
#include "printer_app_server.h"
#include "umockdev_printer.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

namespace {

using namespace varkon::test;

struct Plugged {
    const char *deviceId;
    const char *printerName;  // what PAPPL names the printer it adds, in its resource path
    const char *makeAndModel; // "" when no printer may be added
    const char *sides;
};

ProcessResult autoadd_with(const PrinterAppServer &server, const Plugged &device)
{
    EmulatedUsbPrinter printer;
    printer.has_serial = false;
    printer.pappl_device_id = device.deviceId;
    ProcessOptions options;
    options.env.push_back("SNAP_COMMON=" + server.state_dir());
    options.timeout_ms = 60000;
    return run_under_usb_printer(printer, {built_program("printer-app/varkon-printer-app"), "autoadd"}, options);
}

TEST(PrinterAppUsb, APluggedInPrinterGetsTheDriverItsDeviceIdNames)
{
    if (access("/usr/bin/umockdev-run", X_OK) != 0)
        GTEST_SKIP() << "umockdev-run is not installed";
    const Plugged devices[] = {
        {"MFG:Varkon;MDL:Oskel 301;CMD:ZJS;CLS:PRINTER;", "Varkon_Oskel_301_(USB)", "Varkon Oskel 301 Series",
         "one-sided"},
        {"MANUFACTURER:VARKON;MODEL:Belvar 210d;COMMAND SET:PJL;", "VARKON_Belvar_210d_(USB)",
         "Varkon Belvar 210d Series", "one-sided,two-sided-long-edge,two-sided-short-edge"},
        {"MFG:Other;MDL:Oskel 301;CMD:ZJS;CLS:PRINTER;", "Other_Oskel_301_(USB)", "", ""},
    };
    for (const Plugged &device : devices) {
        SCOPED_TRACE(device.deviceId);
        PrinterAppServer server;
        server.start();
        const ProcessResult added = autoadd_with(server, device);
        EXPECT_EQ(added.exit_code, 0) << added.out << added.err;
        const std::string printers = server.command({"printers"}).out;
        if (*device.makeAndModel == '\0') {
            EXPECT_EQ(printers, "") << server.log();
            continue;
        }
        EXPECT_EQ(server.printer_attribute(device.printerName, "printer-make-and-model"), device.makeAndModel)
            << printers << server.log();
        EXPECT_EQ(server.printer_attribute(device.printerName, "sides-supported"), device.sides);
        EXPECT_TRUE(server.running());
    }
}

} // namespace
