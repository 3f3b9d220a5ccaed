// SPDX-License-Identifier: GPL-2.0-or-later
// The printer's TCP side: the listening socket on a numeric address, the names
// of both ends as "address:port", and the abrupt close of a printer that fails.
#pragma once

#include "unique_fd.h"

#include <string>

namespace varkon {

struct Listener {
    UniqueFd fd;
    std::string address;  // "127.0.0.1:9100" or "[::1]:9100", with the port the system gave
    std::string error;    // why there is no socket
};

// Listens on a numeric IPv4 or IPv6 address; port 0 lets the system choose. The
// socket does not block, so that a connection gone before accept() stalls nothing.
Listener listen_tcp(const std::string &address, unsigned port);

// Takes the next connection, a blocking socket closed on exec; invalid (errno
// says why) when none was waiting.
UniqueFd accept_connection(int listener);

// The other end of a connection, "127.0.0.1:40312"; "unknown peer" when it cannot be told.
std::string peer_name(int fd);

// Closes with a reset instead of an orderly end, as a printer that goes away
// does: the sender's next write fails at once.
void close_with_reset(UniqueFd &fd);

} // namespace varkon
