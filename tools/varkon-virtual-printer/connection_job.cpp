// SPDX-License-Identifier: GPL-2.0-or-later
// Serving one connection of the virtual printer.
#include "connection_job.h"

#include "job_check.h"
#include "job_receiver.h"
#include "job_spool.h"
#include "tcp_socket.h"

#include <new>
#include <string>

namespace varkon {
namespace {

// False when the connection is not a job: it ended without data, or the printer is stopping.
bool wait_for_job(int socket, unsigned number, const std::string &peer, PrinterState &state)
{
    const std::string connection = "connection " + std::to_string(number) + " from " + peer;
    switch (wait_for_first_data(socket, state.stopping.fd(), state.abort.fd())) {
    case FirstData::Arrived: return true;
    case FirstData::Closed: state.lines.print(connection + ": empty, no job"); return false;
    case FirstData::Reset: state.lines.print(connection + ": reset before any data, no job"); return false;
    case FirstData::Stopping:
        log_message("%s closed before any data: the printer is stopping", connection.c_str());
        return false;
    }
    return false;
}

std::string open_spool(unsigned number, const PrinterOptions &options, JobSpool &spool)
{
    if (options.output_dir.empty())
        return spool.open_temporary();
    return spool.open_named(options.output_dir + "/" + job_file_name(number) + ".prn");
}

JobReport checked(unsigned number, const ReceivedJob &received, JobSpool &spool, const PrinterOptions &options)
{
    try {
        return check_job(number, received, spool, options.output_dir);
    } catch (const std::bad_alloc &) {
        spool.discard();
        return {"job " + std::to_string(number) + ": not checked: out of memory (" + std::to_string(received.bytes) +
                    " bytes received), dropped",
                true};
    }
}

} // namespace

bool JobLimit::start()
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_.fired() || (limit_ > 0 && started_ >= limit_))
        return false;
    if (++started_ == limit_)
        stopping_.fire();
    return true;
}

void serve_connection(UniqueFd socket, unsigned number, PrinterState &state)
{
    const std::string peer = peer_name(socket.get());
    if (!wait_for_job(socket.get(), number, peer, state))
        return;
    if (!state.limit.start()) {
        log_message("connection %u from %s refused: the printer takes no more jobs", number, peer.c_str());
        close_with_reset(socket);
        return;
    }
    JobSpool spool;
    const std::string spool_error = open_spool(number, state.options, spool);
    const ReceiveLimits limits{state.options.max_job_bytes, state.options.fail_after, state.options.delay_ms};
    ReceivedJob received = receive_job(socket.get(), state.abort.fd(), limits, spool_error.empty() ? &spool : nullptr);
    if (!spool_error.empty())
        received.spool_error = spool_error;
    // Closed before the check, so that a sender waiting for the printer's end goes on.
    if (received.end == JobEnd::PrinterFailed)
        close_with_reset(socket);
    socket.reset();

    const JobReport report = checked(number, received, spool, state.options);
    if (report.files_failed) {
        state.files_failed = true;
        log_message("job %u: files not written as asked", number);
    }
    state.lines.print(report.line);
}

} // namespace varkon
