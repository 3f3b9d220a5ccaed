// SPDX-License-Identifier: GPL-2.0-or-later
// Entry of the rastertoVarkon CUPS filter: CUPS raster in, the printer's command stream out.
#include "job_loop.h"

#include <cstdio>
#include <new>

int main(int argc, char *argv[])
{
    std::setbuf(stderr, nullptr);
    try {
        return varkon::run_job(argc, argv);
    } catch (const std::bad_alloc &) {
        std::fputs("ERROR: Out of memory\n", stderr);
        return 1;
    }
}
