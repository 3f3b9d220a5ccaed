// SPDX-License-Identifier: GPL-2.0-or-later
// The table of CUPS functions the raster filter calls. Each library is looked
// for at its fixed path and loaded at run time; whatever cannot be loaded or
// resolved there is taken from the CUPS the program is linked against.
#pragma once

#include <cups/cups.h>
#include <cups/ppd.h>
#include <cups/raster.h>
#include <cups/sidechannel.h>

// Handles of the libraries loaded at run time; nullptr when none is loaded.
extern void *m_hCUPS;
extern void *m_hCUPSImage;

extern decltype(&ppdClose) pfppdClose;
extern decltype(&ppdOpenFile) pfppdOpenFile;
extern decltype(&ppdLocalizeIPPReason) pfppdLocalizeIPPReason;
extern decltype(&cupsGetOption) pfcupsGetOption;
extern decltype(&cupsParseOptions) pfcupsParseOptions;
extern decltype(&cupsSideChannelDoRequest) pfcupsSideChannelDoRequest;
extern decltype(&cupsTempFd) pfcupsTempFd;

extern decltype(&cupsRasterReadPixels) pfcupsRasterReadPixels;
extern decltype(&cupsRasterClose) pfcupsRasterClose;
extern decltype(&cupsRasterReadHeader2) pfcupsRasterReadHeader2;
extern decltype(&cupsRasterOpen) pfcupsRasterOpen;
// The job loop reads the raster through its own callback (raster_input.h).
extern decltype(&cupsRasterOpenIO) pfcupsRasterOpenIO;

// Binds the PPD and option functions. 1 when "/usr/lib/libcups.so" was loaded,
// 0 when the linked functions are used. Safe to call again: the earlier handle
// is released first.
int InitCUPSDLL();

// Binds the raster functions from "/usr/lib/libcupsimage.so"; as InitCUPSDLL.
int InitCUPSIMAGEDLL();

namespace varkon {

// The two initialisers with the library path as a parameter, so that both the
// loaded and the linked road can be exercised on any system.
int bind_cups_library(const char *path);
int bind_cupsimage_library(const char *path);

// Closes both handles when present and clears them (end of the job). The
// pointers keep working: they are pointed back at the linked functions.
void release_cups_libraries();

} // namespace varkon
