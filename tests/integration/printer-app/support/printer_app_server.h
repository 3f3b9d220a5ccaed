// SPDX-License-Identifier: GPL-2.0-or-later
// A private varkon-printer-app server for one test: its own state directory
// (which is also where its control socket lives), a free port on 127.0.0.1,
// started and stopped by the test. Printers are added with the program's own
// sub-commands, jobs are sent and watched over IPP with libcups.
//
//   PrinterAppServer server;
//   server.add_printer("z", "varkon_oskel_301d", "file://" + dir);
//   int id = server.submit("z", path, "image/pwg-raster", {{"sides", "two-sided-long-edge"}});
//   JobStatus done = server.wait_for_job("z", id);
//
// Set VARKON_KEEP_PRINTER_APP=1 to keep the directory (log, state) for a look.
#pragma once

#include "run_process.h"

#include <sys/types.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace varkon::test {

struct JobStatus {
    int state = 0;             // IPP job-state: 7 canceled, 8 aborted, 9 completed; 0 unknown
    std::string reasons;       // job-state-reasons, comma-separated
    std::string message;       // job-state-message
    int impressions = 0;       // job-impressions-completed
    bool completed() const { return state == 9; }
    bool aborted() const { return state == 8; }
    bool canceled() const { return state == 7; }
};

class PrinterAppServer {
public:
    // A fresh state directory, removed afterwards; or `stateDir`, kept.
    explicit PrinterAppServer(const std::string &stateDir = {});
    ~PrinterAppServer();
    PrinterAppServer(const PrinterAppServer &) = delete;
    PrinterAppServer &operator=(const PrinterAppServer &) = delete;

    // The server's own options for the next start, each given as "-o OPTION";
    // "listen-hostname=127.0.0.1" unless set. None: the program's defaults.
    void set_server_options(std::vector<std::string> options) { serverOptions_ = std::move(options); }
    // Starts the server and waits until it answers on 127.0.0.1; throws
    // std::runtime_error with its log when it does not.
    void start();
    // SIGTERM, as systemd stops it; SIGKILL after 15 s. The server's wait
    // status, or -1 when it was not running.
    int stop();
    // Whether the server process is still there (it may have died on its own).
    bool running();
    // The server's wait status once it has ended, -1 while it runs or before.
    int wait_status() const { return status_; }

    int port() const { return port_; }
    // The server's process id while it runs (for /proc and gdb), else -1.
    pid_t pid() const { return pid_; }
    const std::string &state_dir() const { return dir_; }
    std::string printer_uri(const std::string &printer) const;
    std::string log() const;

    // Runs a sub-command of the program against this server (add, modify, ...).
    ProcessResult command(const std::vector<std::string> &args) const;
    void add_printer(const std::string &name, const std::string &driver, const std::string &deviceUri) const;

    // Print-Job with the file and the job attributes ("copies" "2", "sides"
    // "two-sided-long-edge", "density" "4"): the job id, or -1 with the
    // server's answer in *error.
    int submit(const std::string &printer, const std::string &file, const std::string &format,
               const std::vector<std::pair<std::string, std::string>> &attributes = {},
               std::string *error = nullptr) const;
    JobStatus job_status(const std::string &printer, int jobId) const;
    // Polls until the job is canceled, aborted or completed.
    JobStatus wait_for_job(const std::string &printer, int jobId, int timeoutMs = 120000) const;
    bool cancel_job(const std::string &printer, int jobId) const;
    // A printer attribute as text ("" when the printer has none of that name).
    std::string printer_attribute(const std::string &printer, const std::string &name) const;

private:
    std::vector<std::string> serverOptions_ = {"listen-hostname=127.0.0.1"};
    std::unique_ptr<TempDir> own_;
    std::string dir_;
    int port_ = 0;
    pid_t pid_ = -1;
    int status_ = -1;
};

// Where the file:// device of a directory puts a job called `jobName`.
std::string device_file(const std::string &directory, const std::string &jobName);

} // namespace varkon::test
