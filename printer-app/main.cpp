// SPDX-License-Identifier: GPL-2.0-or-later
// varkon-printer-app: the IPP Printer Application of the host-based Varkon
// printers, on PAPPL's main loop (server, add, submit, printers, jobs, ...).
#include "app_system.h"
#include "cupsdll.h"

#include <cstdio>
#include <new>

int main(int argc, char *argv[])
{
    // The raster core calls CUPS through its own function table.
    InitCUPSIMAGEDLL();
    InitCUPSDLL();
    try {
        varkon::app::AppContext context = varkon::app::app_context(argv[0], VARKON_VERSION);
        return varkon::app::run_printer_app(argc, argv, context);
    } catch (const std::bad_alloc &) {
        std::fputs("varkon-printer-app: out of memory\n", stderr);
        return 1;
    }
}
