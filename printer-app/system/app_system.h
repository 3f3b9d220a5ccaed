// SPDX-License-Identifier: GPL-2.0-or-later
// The Printer Application as a whole: its name and version, the drivers it
// offers, and the system the main loop's server runs: listeners, security,
// state kept across restarts, the PDF filter, the labels of the web
// interface and its guards.
#pragma once

#include <pappl/pappl.h>

#include <string>
#include <vector>

namespace varkon::app {

struct AppContext {
    std::string baseName; // the program's name: names its state file and control socket
    std::string version;
    std::vector<pappl_pr_driver_t> drivers;
    std::string strings;  // the web interface's labels of our options and page sizes
    std::string stateFile;
};

// The footer every page of the web interface must have.
extern const char kFooterHtml[];

// The context for a program started as `argv0`.
AppContext app_context(const char *argv0, const char *version);

// The main loop's system callback; `data` is the AppContext.
pappl_system_t *create_system(int num_options, cups_option_t *options, void *data);

// Runs PAPPL's main loop with our drivers and system.
int run_printer_app(int argc, char *argv[], AppContext &context);

} // namespace varkon::app
