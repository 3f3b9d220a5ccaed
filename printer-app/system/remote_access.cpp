// SPDX-License-Identifier: GPL-2.0-or-later
// The server's rule for clients on other hosts when it has no PAM service.
#include "remote_access.h"

namespace varkon::app {

bool remote_client_may(ipp_op_t operation)
{
    switch (operation) {
    case IPP_OP_PRINT_JOB:
    case IPP_OP_VALIDATE_JOB:
    case IPP_OP_CREATE_JOB:
    case IPP_OP_SEND_DOCUMENT:
        return true;
    default:
        // Web pages (no IPP operation), printer and system settings, printers
        // added or deleted, and jobs cancelled: PAPPL cannot tell a remote
        // client's own job from another's without a login.
        return false;
    }
}

http_status_t authorize_without_login(pappl_client_t *client, const char *, gid_t, void *)
{
    if (httpAddrLocalhost(httpGetAddress(papplClientGetHTTP(client))))
        return HTTP_STATUS_CONTINUE;
    if (remote_client_may(papplClientGetOperation(client)))
        return HTTP_STATUS_CONTINUE;
    papplLogClient(client, PAPPL_LOGLEVEL_INFO,
                   "Refused to a client on another host: the server has no PAM service (-o auth-service=NAME).");
    return HTTP_STATUS_FORBIDDEN;
}

} // namespace varkon::app
