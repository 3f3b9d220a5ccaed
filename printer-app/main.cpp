// SPDX-License-Identifier: GPL-2.0-or-later
// varkon-printer-app: the IPP Printer Application of the host-based Varkon
// printers, on PAPPL's main loop (server, add, submit, printers, jobs, ...).
#include "app_system.h"
#include "cupsdll.h"

#include <malloc.h>

#include <cstdio>
#include <new>

int main(int argc, char *argv[])
{
    // One malloc arena for all threads: PAPPL starts a thread for every
    // connection and every job, and with glibc's eight arenas per core each
    // kept the pages of the page buffers its jobs freed, so the resident set
    // grew toward the sum of their peaks (ReturnFreedPages gives them back).
    mallopt(M_ARENA_MAX, 1);
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
