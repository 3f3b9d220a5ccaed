// SPDX-License-Identifier: GPL-2.0-or-later
// Where a server keeps its state (printers, defaults) and spool: the directory comes from -o state-directory=DIR, the
// environment (VARKON_PRINTER_APP_STATE_DIR, then SNAP_COMMON) or the user's
// own state directory.
#pragma once

#include <cups/cups.h>

#include <string>

namespace varkon::app {

struct StatePaths {
    std::string directory;
    std::string stateFile; // DIR/NAME.state
    std::string spoolDirectory;
};

// The paths for a program called `baseName`. `options` are the server's -o options.
StatePaths state_paths(const std::string &baseName, int num_options, cups_option_t *options);

// Makes the directory and its parents (mode 0700 for those it makes). False
// with errno when it cannot.
bool make_directories(const std::string &path);

} // namespace varkon::app
