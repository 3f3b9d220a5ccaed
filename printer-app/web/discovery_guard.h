// SPDX-License-Identifier: GPL-2.0-or-later
// PAPPL 1.3.1 lists devices through DNS-SD on its add-printer page and aborts
// the whole server when no avahi-daemon was running as it started. Such a
// server serves a page of ours there instead, which says why and how to add
// a printer all the same.
#pragma once

#include <pappl/pappl.h>

namespace varkon::app {

// Whether an avahi-daemon answers now.
bool avahi_daemon_running();

// Puts our page in place of the add-printer page when no avahi-daemon runs.
// Call before papplSystemRun.
void guard_device_discovery(pappl_system_t *system);

// The "devices" sub-command when no avahi-daemon runs, where PAPPL's own
// aborts the same way: every device but those found through DNS-SD, one URI
// a line with its description and IEEE 1284 device ID below it. Returns the
// exit status.
int list_devices_without_dns_sd();

} // namespace varkon::app
