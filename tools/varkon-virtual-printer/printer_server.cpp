// SPDX-License-Identifier: GPL-2.0-or-later
// The virtual printer's accept loop and its connection threads.
#include "printer_server.h"

#include "tcp_socket.h"

#include <poll.h>
#include <sys/eventfd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <exception>
#include <system_error>

namespace varkon {
namespace {

// Connections served at once; more wait in the listen queue until one ends.
constexpr size_t kMaxConnections = 32;
// After an accept() failure such as no descriptors left, before trying again.
constexpr auto kAcceptRetry = std::chrono::milliseconds(100);

void notify(int eventfd_fd)
{
    const uint64_t one = 1;
    while (write(eventfd_fd, &one, sizeof one) < 0 && errno == EINTR) {
    }
}

int poll_again(pollfd *fds, nfds_t count)
{
    int n;
    do
        n = poll(fds, count, -1);
    while (n < 0 && errno == EINTR);
    return n;
}

} // namespace

PrinterServer::PrinterServer(const PrinterOptions &options, ReportLines &lines)
    : state_(options, lines), finished_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
{
}

PrinterServer::~PrinterServer()
{
    state_.stopping.fire();
    state_.abort.fire();
    join_all();
}

int PrinterServer::run(UniqueFd listener, const SignalWatch &signals)
{
    if (!finished_.valid() || !state_.stopping.ok() || !state_.abort.ok()) {
        log_message("cannot set up the connection threads: %s", std::strerror(errno));
        return kExitUsage;
    }
    accept_loop(listener.get(), signals);
    listener.reset();
    finish_workers(signals);
    return state_.files_failed || state_.lines.failed() ? kExitFilesFailed : kExitDone;
}

void PrinterServer::accept_loop(int listener, const SignalWatch &signals)
{
    while (!state_.stopping.fired()) {
        const bool room = workers_.size() < kMaxConnections;
        pollfd fds[4] = {{signals.fd(), POLLIN, 0},
                         {finished_.get(), POLLIN, 0},
                         {state_.stopping.fd(), POLLIN, 0},
                         {room ? listener : -1, POLLIN, 0}};
        if (poll_again(fds, 4) < 0) {
            log_message("cannot wait for connections: %s", std::strerror(errno));
            state_.stopping.fire();
            break;
        }
        if (fds[0].revents != 0 && signals.take() != 0) {
            log_message("stopping once the %zu connections under way have ended", workers_.size());
            state_.stopping.fire();
        }
        if (fds[1].revents != 0)
            reap();
        if (fds[3].revents != 0 && !state_.stopping.fired())
            take_connection(listener);
    }
}

void PrinterServer::finish_workers(const SignalWatch &signals)
{
    while (!workers_.empty()) {
        pollfd fds[2] = {{signals.fd(), POLLIN, 0}, {finished_.get(), POLLIN, 0}};
        if (poll_again(fds, 2) < 0)
            break;
        if (fds[0].revents != 0 && signals.take() != 0 && !state_.abort.fired()) {
            log_message("cutting the %zu jobs under way", workers_.size());
            state_.abort.fire();
        }
        if (fds[1].revents != 0)
            reap();
    }
    join_all();
}

void PrinterServer::take_connection(int listener)
{
    UniqueFd connection = accept_connection(listener);
    if (!connection.valid()) {
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != ECONNABORTED) {
            log_message("cannot accept a connection: %s", std::strerror(errno));
            std::this_thread::sleep_for(kAcceptRetry);
        }
        return;
    }
    Worker &worker = workers_.emplace_back();
    try {
        worker.thread = std::thread([this, &worker, number = next_number_, socket = std::move(connection)]() mutable {
            try {
                serve_connection(std::move(socket), number, state_);
            } catch (const std::exception &e) {
                log_message("connection lost: %s", e.what());
            }
            worker.done = true;
            notify(finished_.get());
        });
    } catch (const std::system_error &e) {
        log_message("cannot start a thread for connection %u: %s", next_number_, e.what());
        workers_.pop_back();
    }
    ++next_number_;
}

void PrinterServer::reap()
{
    uint64_t count;
    while (read(finished_.get(), &count, sizeof count) < 0 && errno == EINTR) {
    }
    for (auto it = workers_.begin(); it != workers_.end();) {
        if (it->done) {
            it->thread.join();
            it = workers_.erase(it);
        } else {
            ++it;
        }
    }
}

void PrinterServer::join_all()
{
    for (Worker &worker : workers_)
        if (worker.thread.joinable())
            worker.thread.join();
    workers_.clear();
}

} // namespace varkon
