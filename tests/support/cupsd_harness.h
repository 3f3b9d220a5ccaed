// SPDX-License-Identifier: GPL-2.0-or-later
// A private CUPS scheduler for one test: its own configuration, spool, logs,
// filters, backends and PPDs in a temporary tree, listening on a free port of
// 127.0.0.1. Tests drive it with the real client programs (lp, lpadmin,
// lpstat, cancel, lpinfo) through run(), and the scheduler is stopped, and
// its tree removed, when the harness goes away, whatever happened.
//
// Set VARKON_KEEP_CUPSD=1 in the environment to keep the tree (logs, spool,
// PPDs) for a look after the test; its path is then written to stderr.
#pragma once

#include "run_process.h"

#include <sys/types.h>

#include <string>
#include <vector>

namespace varkon::test {

struct CupsdConfig {
    // Programs copied into ServerBin/filter next to links to the system's
    // filters, owned by root and mode 0755 as cupsd demands.
    std::vector<std::string> filters;
    // Programs copied into ServerBin/backend with mode 0700, so that cupsd runs
    // them as root (they may then write anywhere).
    std::vector<std::string> backends;
    // Names of system backends (/usr/lib/cups/backend) to link in as well;
    // none by default, which keeps lpinfo -v quick.
    std::vector<std::string> system_backends;
    // Every *.ppd file of these directories is offered by lpinfo -m as
    // "varkon/<file name>".
    std::vector<std::string> ppd_dirs;
    std::string log_level = "debug";
    int start_timeout_ms = 30000;
};

// This build's filters that exist, the varkontest backend and the generated PPDs.
CupsdConfig varkon_cupsd_config();

// Device URI of the varkontest backend: the job goes to `output` (a file, or a
// directory ending in '/' for job-<id>.prn files) and the side channel
// answers `device_id`.
std::string varkontest_uri(const std::string &output, const std::string &device_id = "");

// The PPD name lpinfo -m gives a generated PPD, e.g. "varkon/varkon-oskel-301.ppd",
// and the path of that PPD in this build; empty when the model has none.
std::string varkon_ppd_name(const std::string &model_name);
std::string varkon_ppd_path(const std::string &model_name);

struct JobOutcome {
    std::string state;    // "completed", "aborted", "canceled", ... or "timeout"
    std::string reasons;  // job-state-reasons, comma-separated
    std::string message;  // job-printer-state-message: the last INFO/ERROR line of a filter
    bool completed() const { return state == "completed"; }
};

class CupsdHarness {
public:
    // Starts cupsd and waits until it answers; throws std::runtime_error (with
    // the scheduler's log) when it does not.
    explicit CupsdHarness(const CupsdConfig &config = varkon_cupsd_config());
    ~CupsdHarness();
    CupsdHarness(const CupsdHarness &) = delete;
    CupsdHarness &operator=(const CupsdHarness &) = delete;

    int port() const { return port_; }
    std::string server() const;                  // "127.0.0.1:<port>", the CUPS_SERVER value
    const std::string &root() const { return root_; }
    std::string server_bin() const { return root_ + "/bin"; }
    std::string model_dir() const { return root_ + "/share/model/varkon"; }
    std::string error_log_path() const { return root_ + "/log/error_log"; }

    // CUPS_SERVER for clients, CUPS_SERVERBIN and CUPS_DATADIR for tools that
    // check PPDs against this scheduler's programs (cupstestppd).
    std::vector<std::string> environment() const;

    // Runs a CUPS client program (found in /usr/bin or /usr/sbin when given
    // without a slash) against this scheduler.
    ProcessResult run(const std::vector<std::string> &argv, ProcessOptions options = {}) const;

    // lpadmin -p queue -E -v device_uri -m model [-o option]...; a model that
    // is an absolute path is taken as a PPD file (lpadmin -P) instead of a
    // name from lpinfo -m. With the model "everywhere" it returns once cupsd
    // has made the queue's PPD from the printer's answers (it logs that at
    // level info, which the default log level includes), and fails when
    // cupsd could not.
    ProcessResult add_queue(const std::string &queue, const std::string &device_uri, const std::string &model,
                            const std::vector<std::string> &options = {}) const;

    // lp -d queue [-o option]... file: the job id, or -1 with lp's output in *error.
    int submit(const std::string &queue, const std::string &file, const std::vector<std::string> &options = {},
               std::string *error = nullptr) const;

    // Polls the job until it is completed, aborted or canceled.
    JobOutcome wait_for_job(int job_id, int timeout_ms = 120000) const;

    std::string error_log() const;
    // The scheduler's log lines about one job (filter stderr included).
    std::string job_log(int job_id) const;

    // Stops cupsd: SIGTERM, then SIGKILL to its process group after 10 seconds.
    void stop();

private:
    bool wait_for_generated_ppd(const std::string &queue, size_t before, int timeout_ms, std::string *why) const;
    void build_tree(const CupsdConfig &config);
    void write_config(const CupsdConfig &config) const;
    bool start(const CupsdConfig &config, std::string *why);

    std::string root_;
    int port_ = 0;
    pid_t pid_ = -1;
};

} // namespace varkon::test
