// SPDX-License-Identifier: GPL-2.0-or-later
// The system the server runs, set up from its -o options.
#include "app_system.h"

#include "discovery_guard.h"
#include "driver_list.h"
#include "driver_setup.h"
#include "pdf_filter.h"
#include "raster_calls.h"
#include "remote_access.h"
#include "state_paths.h"
#include "state_saving.h"
#include "strings_languages.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace varkon::app {

const char kFooterHtml[] = "Varkon Printer Application for the host-based Varkon printers.";

namespace {

struct LogLevelName {
    const char *name;
    pappl_loglevel_t level;
};

constexpr LogLevelName kLogLevels[] = {
    {"debug", PAPPL_LOGLEVEL_DEBUG}, {"info", PAPPL_LOGLEVEL_INFO},   {"warn", PAPPL_LOGLEVEL_WARN},
    {"error", PAPPL_LOGLEVEL_ERROR}, {"fatal", PAPPL_LOGLEVEL_FATAL},
};

const char *option(const char *name, int num_options, cups_option_t *options, const char *fallback)
{
    const char *value = cupsGetOption(name, num_options, options);
    return value != nullptr && *value != '\0' ? value : fallback;
}

pappl_loglevel_t log_level(const char *name)
{
    for (const LogLevelName &l : kLogLevels)
        if (std::strcmp(l.name, name) == 0)
            return l.level;
    return PAPPL_LOGLEVEL_INFO;
}

std::string labels()
{
    std::vector<std::vector<VendorOption>> all;
    std::string media;
    for (const AppDriver &driver : app_drivers()) {
        all.push_back(driver.vendor);
        for (const MediaSize &size : driver.media)
            media += "\"media." + size.pwgName + "\" = \"" + page_size_label(size.row->strPageSize) + "\";\n";
    }
    return vendor_strings(all) + media;
}

// Loopback only unless the administrator names the addresses to listen on.
// The main loop adds the control socket of the sub-commands itself.
bool add_listeners(pappl_system_t *system, const char *listen)
{
    return std::strcmp(listen, "*") == 0 ? papplSystemAddListeners(system, nullptr)
                                         : papplSystemAddListeners(system, listen);
}

// Ended jobs each printer keeps for its job log and for IPP clients. PAPPL
// 1.3.1 keeps all of them unless told otherwise, and every Print-Job it
// refused as busy is one: after 2000 jobs the server held 7500, the state file
// had grown to 1 MB and each round of jobs took twice as long.
constexpr int kEndedJobsKept = 100;

// Called for every printer PAPPL creates, those of the state file included.
void printer_created(pappl_printer_t *printer, void *)
{
    papplPrinterSetMaxCompletedJobs(printer, kEndedJobsKept);
}

void set_drivers(pappl_system_t *system, AppContext &context)
{
    papplSystemSetPrinterDrivers(system, static_cast<int>(context.drivers.size()), context.drivers.data(),
                                 autoadd_driver, printer_created, setup_driver, &context);
}

} // namespace

AppContext app_context(const char *argv0, const char *version)
{
    AppContext context;
    const char *slash = std::strrchr(argv0, '/');
    context.baseName = slash != nullptr ? slash + 1 : argv0;
    context.version = version;
    context.drivers = pappl_driver_list();
    context.strings = labels();
    return context;
}

pappl_system_t *create_system(int num_options, cups_option_t *options, void *data)
{
    AppContext &context = *static_cast<AppContext *>(data);
    const StatePaths paths = state_paths(context.baseName, num_options, options);
    if (!make_directories(paths.directory) || !make_directories(paths.spoolDirectory)) {
        std::fprintf(stderr, "%s: cannot make the state directory %s: %s\n", context.baseName.c_str(),
                     paths.directory.c_str(), std::strerror(errno));
        return nullptr;
    }
    const int port = std::atoi(option("server-port", num_options, options, "0"));
    // With a PAM service (-o auth-service=login) PAPPL asks network clients for
    // a login; without one, clients on other hosts may only print (remote_access.h).
    const pappl_soptions_t soptions = PAPPL_SOPTIONS_MULTI_QUEUE | PAPPL_SOPTIONS_WEB_INTERFACE |
                                      PAPPL_SOPTIONS_WEB_LOG | PAPPL_SOPTIONS_WEB_SECURITY;
    pappl_system_t *system = papplSystemCreate(
        soptions, option("system-name", num_options, options, "Varkon Printer Application"), port, "_print,_universal",
        paths.spoolDirectory.c_str(), option("log-file", num_options, options, "-"),
        log_level(option("log-level", num_options, options, "info")),
        option("auth-service", num_options, options, nullptr), false);
    if (system == nullptr)
        return nullptr;
    if (cupsGetOption("auth-service", num_options, options) == nullptr)
        papplSystemSetAuthCallback(system, "Basic", authorize_without_login, nullptr);
    if (!add_listeners(system, option("listen-hostname", num_options, options, "localhost"))) {
        std::fprintf(stderr, "%s: cannot listen for connections.\n", context.baseName.c_str());
        papplSystemDelete(system);
        return nullptr;
    }
    if (const char *host = cupsGetOption("server-hostname", num_options, options))
        papplSystemSetHostName(system, host);
    if (const char *group = cupsGetOption("admin-group", num_options, options))
        papplSystemSetAdminGroup(system, group);
    pappl_version_t version{};
    papplCopyString(version.name, "Varkon Printer Application", sizeof version.name);
    papplCopyString(version.sversion, context.version.c_str(), sizeof version.sversion);
    papplSystemSetVersions(system, 1, &version);
    papplSystemAddStringsData(system, (std::string("/") + kStringsLanguage + ".strings").c_str(), kStringsLanguage,
                              context.strings.c_str());
    set_drivers(system, context);
    papplSystemAddMIMEFilter(system, "application/pdf", "image/pwg-raster", print_pdf, &context);
    if (!pwg_raster_read_by_program())
        papplLog(system, PAPPL_LOGLEVEL_WARN, "libcups' raster calls were not found.");
    guard_device_discovery(system);
    // The printers and their defaults from the last run, then kept as they change
    // (once no job is under way: state_saving.cpp says why).
    context.stateFile = paths.stateFile;
    papplSystemLoadState(system, context.stateFile.c_str());
    papplSystemSetSaveCallback(system, save_state_when_idle, const_cast<char *>(context.stateFile.c_str()));
    return system;
}

int run_printer_app(int argc, char *argv[], AppContext &context)
{
    if (argc == 2 && std::strcmp(argv[1], "devices") == 0 && !avahi_daemon_running())
        return list_devices_without_dns_sd();
    return papplMainloop(argc, argv, context.version.c_str(), kFooterHtml, static_cast<int>(context.drivers.size()),
                         context.drivers.data(), autoadd_driver, setup_driver, nullptr, nullptr, create_system,
                         nullptr, &context);
}

} // namespace varkon::app
