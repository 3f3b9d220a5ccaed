// SPDX-License-Identifier: GPL-2.0-or-later
// The state file, saved when no job is under way.
//
// PAPPL 1.3.1 takes its locks in two orders. papplSystemSaveState holds the
// system's read lock while it takes each printer's and each job's read lock.
// A Print-Job that is aborted while its document comes in (a PWG raster or
// Apple raster job sent to a printer that is printing another job is answered
// server-error-busy and aborted so; so is one whose client goes away) holds
// its printer's and its job's write locks when it asks for the system's write
// lock. When the two meet, each waits for the other for ever: the main loop
// hangs in papplSystemSaveState and with it every later connection, each
// client thread's end waiting for the system's write lock in _papplClientDelete.
// PAPPL's main loop calls the save callback after each change, and a job's
// start and end are changes, so under load the two met within seconds.
//
// Aborts of that kind need a job under way on the printer. So the callback
// saves only when no printer has an active job; otherwise the changes wait for
// the next call, which the next change brings (the end of the last job is one)
// or the final one at shutdown. The check takes each printer's lock alone,
// with no lock of the system's held, so it cannot close the circle itself.
// What remains is a job that arrives and is aborted within the few
// milliseconds of a save that began while all was idle, and PAPPL's own
// papplSystemCleanJobs (system, then printer locks), which its main loop runs
// a minute after jobs end.
#include "state_saving.h"

namespace varkon::app {

namespace {

// Whether a printer has an active job.
bool jobs_under_way(pappl_system_t *system)
{
    const int next = papplSystemGetNextPrinterID(system);
    for (int id = 1; id < next; ++id) {
        pappl_printer_t *printer = papplSystemFindPrinter(system, nullptr, id, nullptr);
        if (printer != nullptr && papplPrinterGetNumberOfActiveJobs(printer) > 0)
            return true;
    }
    return false;
}

} // namespace

bool save_state_when_idle(pappl_system_t *system, void *file)
{
    if (!papplSystemIsShutdown(system) && jobs_under_way(system)) {
        papplLog(system, PAPPL_LOGLEVEL_DEBUG, "Jobs under way: the state is saved later.");
        return true;
    }
    return papplSystemSaveState(system, static_cast<const char *>(file));
}

} // namespace varkon::app
