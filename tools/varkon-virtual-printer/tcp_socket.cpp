// SPDX-License-Identifier: GPL-2.0-or-later
// Listening, accepting and naming the ends of the printer's TCP connections.
#include "tcp_socket.h"

#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

namespace varkon {
namespace {

constexpr int kBacklog = 64;

std::string address_text(const sockaddr *addr, socklen_t length)
{
    char host[NI_MAXHOST], port[NI_MAXSERV];
    if (getnameinfo(addr, length, host, sizeof host, port, sizeof port, NI_NUMERICHOST | NI_NUMERICSERV) != 0)
        return "unknown peer";
    if (addr->sa_family == AF_INET6)
        return std::string("[") + host + "]:" + port;
    return std::string(host) + ":" + port;
}

std::string local_name(int fd)
{
    sockaddr_storage addr{};
    socklen_t length = sizeof addr;
    if (getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &length) != 0)
        return "unknown address";
    return address_text(reinterpret_cast<const sockaddr *>(&addr), length);
}

} // namespace

Listener listen_tcp(const std::string &address, unsigned port)
{
    Listener result;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV | AI_PASSIVE;
    addrinfo *found = nullptr;
    const std::string service = std::to_string(port);
    if (int status = getaddrinfo(address.c_str(), service.c_str(), &hints, &found); status != 0) {
        result.error = "cannot listen on " + address + ": " + gai_strerror(status);
        return result;
    }
    UniqueFd fd(socket(found->ai_family, found->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, found->ai_protocol));
    const int on = 1;
    const bool ok = fd.valid() && setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) == 0 &&
                    bind(fd.get(), found->ai_addr, found->ai_addrlen) == 0 && listen(fd.get(), kBacklog) == 0;
    const int error = errno;
    freeaddrinfo(found);
    if (!ok) {
        result.error = "cannot listen on " + address + " port " + service + ": " + std::strerror(error);
        return result;
    }
    result.address = local_name(fd.get());
    result.fd = std::move(fd);
    return result;
}

UniqueFd accept_connection(int listener)
{
    int fd;
    do
        fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    while (fd < 0 && errno == EINTR);
    return UniqueFd(fd);
}

std::string peer_name(int fd)
{
    sockaddr_storage addr{};
    socklen_t length = sizeof addr;
    if (getpeername(fd, reinterpret_cast<sockaddr *>(&addr), &length) != 0)
        return "unknown peer";
    return address_text(reinterpret_cast<const sockaddr *>(&addr), length);
}

void close_with_reset(UniqueFd &fd)
{
    const linger abort_close = {1, 0};
    setsockopt(fd.get(), SOL_SOCKET, SO_LINGER, &abort_close, sizeof abort_close);
    fd.reset();
}

} // namespace varkon
