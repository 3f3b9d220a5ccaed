// SPDX-License-Identifier: GPL-2.0-or-later
// Who may do what from another host when no PAM service is configured: print,
// and nothing else. PAPPL 1.3.1 on its own, listening on the network without
// one, gives every host its settings pages and administrative operations.
#pragma once

#include <pappl/pappl.h>

namespace varkon::app {

// Whether a client on another host may make this request without a login:
// the operations that submit or check a job of its own (web pages and
// administrative operations are not among them).
bool remote_client_may(ipp_op_t operation);

// PAPPL's authorization callback for a server without a PAM service: a client
// on this machine (loopback or the control socket) may do everything, one on
// another host only what remote_client_may allows.
http_status_t authorize_without_login(pappl_client_t *client, const char *group, gid_t groupid, void *data);

} // namespace varkon::app
