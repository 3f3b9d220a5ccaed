// SPDX-License-Identifier: GPL-2.0-or-later
// varkon-virtual-printer: a network printer for tests and users that takes
// each TCP connection as one job, checks it with the decoder library and
// reports it in one line.
#include "printer_options.h"
#include "printer_server.h"
#include "report_lines.h"
#include "stop_signals.h"
#include "tcp_socket.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <memory>
#include <string>

namespace {

using namespace varkon;

struct DirCloser {
    void operator()(DIR *dir) const { closedir(dir); }
};

// The folder must not hold jobs of an earlier run: their pages would mix with
// this run's and job-0001.prn would be refused.
bool prepare_output(const std::string &dir)
{
    if (mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST) {
        log_message("cannot create %s: %s", dir.c_str(), std::strerror(errno));
        return false;
    }
    std::unique_ptr<DIR, DirCloser> folder(opendir(dir.c_str()));
    if (!folder) {
        log_message("cannot read %s: %s", dir.c_str(), std::strerror(errno));
        return false;
    }
    while (const dirent *entry = readdir(folder.get())) {
        if (std::strncmp(entry->d_name, "job-", 4) == 0) {
            log_message("%s already holds %s; give a folder without jobs", dir.c_str(), entry->d_name);
            return false;
        }
    }
    return true;
}

int run(const PrinterOptions &options)
{
    if (!options.output_dir.empty() && !prepare_output(options.output_dir))
        return kExitUsage;
    // Before any thread starts, so that every thread leaves the signals to the descriptor.
    const SignalWatch signals;
    if (!signals.ok()) {
        log_message("cannot watch for signals: %s", std::strerror(errno));
        return kExitUsage;
    }
    Listener listener = listen_tcp(options.listen_address, options.port);
    if (!listener.fd.valid()) {
        log_message("%s", listener.error.c_str());
        return kExitUsage;
    }
    ReportLines lines(STDOUT_FILENO);
    if (!lines.print("listening on " + listener.address))
        return kExitFilesFailed;
    PrinterServer server(options, lines);
    return server.run(std::move(listener.fd), signals);
}

} // namespace

int main(int argc, char **argv)
{
    // A reader of the report lines that has gone is an error to report, not a signal to die of.
    std::signal(SIGPIPE, SIG_IGN);
    PrinterOptions options;
    if (int status = parse_printer_options(argc, argv, options); status >= 0)
        return status;
    return run(options);
}
