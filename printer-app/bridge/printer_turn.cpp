// SPDX-License-Identifier: GPL-2.0-or-later
// The turns of the printers' jobs.
//
// PAPPL 1.3.1 marks a printer busy (its processing job) only once the new
// job's thread has begun, and checks that mark without holding it: a job
// whose thread it starts and a PWG or Apple raster job that a client streams
// in, or two jobs that arrive together, both find the printer idle and print
// at once. Both get the device PAPPL opened for the printer, so their bytes
// would mix in one stream, and concurrent writes would share the device's
// buffer. The device stays open while the printer has active jobs (for every
// scheme but file:, whose device PAPPL closes after each job, so a file:
// printer's jobs open a device of their own: print_job.cpp), so the later job
// can wait for the earlier and then send a whole job of its own on the same
// connection, as when PAPPL keeps a socket open across queued jobs.
//
// PAPPL passes the callbacks no data of the printer's own, so the turns are
// kept here, by printer.
#include "printer_turn.h"

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>

namespace varkon::app {

namespace {

struct Turns {
    std::mutex lock;
    std::condition_variable changed;
    std::map<pappl_printer_t *, int> holders; // printer -> the id of the job that prints
};

Turns &turns()
{
    static Turns all;
    return all;
}

// Whether the holder's job is over without having given the turn back (its
// end callback never came): the turn is then free.
bool holder_gone(pappl_printer_t *printer, int jobId)
{
    pappl_job_t *job = papplPrinterFindJob(printer, jobId);
    return job == nullptr || papplJobGetState(job) >= IPP_JSTATE_CANCELED;
}

} // namespace

PrinterTurn::PrinterTurn(pappl_job_t *job) : printer_(papplJobGetPrinter(job)), jobId_(papplJobGetID(job))
{
    Turns &t = turns();
    std::unique_lock<std::mutex> hold(t.lock);
    bool logged = false;
    for (auto at = t.holders.find(printer_); at != t.holders.end(); at = t.holders.find(printer_)) {
        const int holder = at->second;
        if (!logged) {
            papplLogJob(job, PAPPL_LOGLEVEL_INFO, "Waiting for job %d of this printer to end first.", holder);
            logged = true;
        }
        // PAPPL's locks are taken with none of ours held.
        hold.unlock();
        const bool gone = holder_gone(printer_, holder);
        hold.lock();
        if (gone && t.holders.count(printer_) != 0 && t.holders[printer_] == holder)
            break;
        t.changed.wait_for(hold, std::chrono::seconds(1));
    }
    t.holders[printer_] = jobId_;
}

PrinterTurn::~PrinterTurn()
{
    Turns &t = turns();
    {
        const std::lock_guard<std::mutex> hold(t.lock);
        auto at = t.holders.find(printer_);
        if (at != t.holders.end() && at->second == jobId_)
            t.holders.erase(at);
    }
    t.changed.notify_all();
}

} // namespace varkon::app
