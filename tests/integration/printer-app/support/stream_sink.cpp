// SPDX-License-Identifier: GPL-2.0-or-later
// The network printer stand-in of the server's tests.
#include "stream_sink.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

namespace varkon::test {

StreamSink::StreamSink()
{
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof addr;
    if (fd_ < 0 || bind(fd_, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 || listen(fd_, 8) != 0 ||
        getsockname(fd_, reinterpret_cast<sockaddr *>(&addr), &length) != 0) {
        if (fd_ >= 0)
            close(fd_);
        throw std::runtime_error("cannot listen on a loopback port for the network printer");
    }
    port_ = ntohs(addr.sin_port);
    acceptor_ = std::thread([this] { accept_all(); });
}

StreamSink::~StreamSink()
{
    stop_ = true;
    acceptor_.join();
    for (std::thread &t : readers_)
        t.join();
    close(fd_);
}

bool StreamSink::take(std::vector<std::string> *streams, std::chrono::steady_clock::time_point deadline)
{
    while (open_ > 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const std::lock_guard<std::mutex> hold(lock_);
    streams->swap(ended_);
    ended_.clear();
    return open_ == 0;
}

void StreamSink::accept_all()
{
    while (!stop_) {
        pollfd ready = {fd_, POLLIN, 0};
        if (poll(&ready, 1, 50) != 1)
            continue;
        const int client = accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0)
            continue;
        ++open_;
        readers_.emplace_back([this, client] { read_all(client); });
    }
}

void StreamSink::read_all(int client)
{
    std::string stream;
    char buffer[65536];
    ssize_t got;
    while ((got = read(client, buffer, sizeof buffer)) > 0 || (got < 0 && errno == EINTR))
        stream.append(buffer, got > 0 ? static_cast<size_t>(got) : 0);
    close(client);
    const std::lock_guard<std::mutex> hold(lock_);
    ended_.push_back(std::move(stream));
    --open_;
}

} // namespace varkon::test
