// SPDX-License-Identifier: GPL-2.0-or-later
// The server's state, spool and control socket paths.
#include "state_paths.h"

#include <pappl/pappl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace varkon::app {

namespace {

const char *nonempty(const char *value) { return value != nullptr && *value != '\0' ? value : nullptr; }

std::string default_directory(const std::string &baseName)
{
    if (getuid() == 0)
        return "/var/lib/" + baseName;
    if (const char *xdg = nonempty(std::getenv("XDG_STATE_HOME")))
        return std::string(xdg) + "/" + baseName;
    if (const char *home = nonempty(std::getenv("HOME")))
        return std::string(home) + "/.local/state/" + baseName;
    return std::string(papplGetTempDir()) + "/" + baseName + std::to_string(getuid());
}

} // namespace

StatePaths state_paths(const std::string &baseName, int num_options, cups_option_t *options)
{
    StatePaths paths;
    const char *directory = nonempty(cupsGetOption("state-directory", num_options, options));
    if (directory == nullptr)
        directory = nonempty(std::getenv("VARKON_PRINTER_APP_STATE_DIR"));
    if (directory == nullptr)
        directory = nonempty(std::getenv("SNAP_COMMON"));
    paths.directory = directory != nullptr ? directory : default_directory(baseName);
    paths.stateFile = paths.directory + "/" + baseName + ".state";
    const char *spool = nonempty(cupsGetOption("spool-directory", num_options, options));
    paths.spoolDirectory = spool != nullptr ? spool : paths.directory + "/spool";
    return paths;
}

bool make_directories(const std::string &path)
{
    struct stat info {};
    if (stat(path.c_str(), &info) == 0)
        return S_ISDIR(info.st_mode) ? true : (errno = ENOTDIR, false);
    const size_t slash = path.find_last_of('/');
    if (slash != std::string::npos && slash > 0 && !make_directories(path.substr(0, slash)))
        return false;
    return mkdir(path.c_str(), 0700) == 0 || errno == EEXIST;
}

} // namespace varkon::app
