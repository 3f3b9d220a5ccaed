// SPDX-License-Identifier: GPL-2.0-or-later
// Keeping the server's state file up to date without the deadlock PAPPL 1.3.1
// can fall into when it saves while a Print-Job is aborted: the save waits for
// the moments when no printer has a job.
#pragma once

#include <pappl/pappl.h>

namespace varkon::app {

// The system's save callback; `file` is the state file's path. Saves at once
// when no printer has an active job (pending, held, receiving its document or
// printing) or the server is shutting down; otherwise the changes are saved at
// a later call.
bool save_state_when_idle(pappl_system_t *system, void *file);

} // namespace varkon::app
