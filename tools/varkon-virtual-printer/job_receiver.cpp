// SPDX-License-Identifier: GPL-2.0-or-later
// The read loop of one connection.
#include "job_receiver.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>

namespace varkon {
namespace {

constexpr size_t kReadBytes = 64 * 1024;

enum class Ready { Socket, Abort, Timeout };

// Waits for the socket, or only `timeout_ms` (socket -1); the abort latch wins.
Ready wait(int socket, int abort_fd, int timeout_ms = -1)
{
    pollfd fds[2] = {{abort_fd, POLLIN, 0}, {socket, POLLIN, 0}};
    for (;;) {
        const int n = poll(fds, socket >= 0 ? 2 : 1, timeout_ms);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 || fds[0].revents != 0)
            return Ready::Abort;
        return n == 0 ? Ready::Timeout : Ready::Socket;
    }
}

// After the slow printer's pause, waits for the socket; false when told to stop.
bool pause_then_wait(int socket, int abort_fd, unsigned delay_ms)
{
    if (delay_ms > 0 && wait(-1, abort_fd, static_cast<int>(delay_ms)) == Ready::Abort)
        return false;
    return wait(socket, abort_fd) != Ready::Abort;
}

// One byte looked at, not taken: 1 when there is data, 0 at the end, -1 on error.
int peek(int socket)
{
    unsigned char byte;
    ssize_t n;
    do
        n = recv(socket, &byte, 1, MSG_PEEK);
    while (n < 0 && errno == EINTR);
    return n > 0 ? 1 : static_cast<int>(n);
}

// Keeps what fits under the limit; past it, or once the spool failed, bytes are only counted.
void keep(const unsigned char *data, size_t size, const ReceiveLimits &limits, JobSpool *spool, ReceivedJob &job)
{
    job.bytes += size;
    if (job.too_large || !job.spool_error.empty())
        return;
    if (job.bytes > limits.max_job_bytes) {
        job.too_large = true;
        size -= static_cast<size_t>(job.bytes - limits.max_job_bytes);
    }
    if (spool)
        job.spool_error = spool->append(data, size);
}

} // namespace

FirstData wait_for_first_data(int socket, int stopping_fd, int abort_fd)
{
    pollfd fds[3] = {{socket, POLLIN, 0}, {stopping_fd, POLLIN, 0}, {abort_fd, POLLIN, 0}};
    for (;;) {
        const int n = poll(fds, 3, -1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return FirstData::Reset;
        if (fds[0].revents == 0)
            return FirstData::Stopping;
        const int data = peek(socket);
        return data > 0 ? FirstData::Arrived : data == 0 ? FirstData::Closed : FirstData::Reset;
    }
}

ReceivedJob receive_job(int socket, int abort_fd, const ReceiveLimits &limits, JobSpool *spool)
{
    ReceivedJob job;
    unsigned char buffer[kReadBytes];
    for (;;) {
        if (!pause_then_wait(socket, abort_fd, limits.delay_ms)) {
            job.end = JobEnd::Stopped;
            return job;
        }
        size_t want = kReadBytes;
        if (limits.fail_after > 0) {
            if (job.bytes == limits.fail_after) {
                // The printer fails only when there is more to take, so a job of
                // exactly that size still ends the way its sender ended it.
                const int more = peek(socket);
                job.end = more > 0 ? JobEnd::PrinterFailed : more == 0 ? JobEnd::Closed : JobEnd::Reset;
                job.error = more < 0 ? errno : 0;
                return job;
            }
            want = static_cast<size_t>(std::min<uint64_t>(want, limits.fail_after - job.bytes));
        }
        const ssize_t n = recv(socket, buffer, want, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            job.end = n == 0 ? JobEnd::Closed : JobEnd::Reset;
            job.error = n == 0 ? 0 : errno;
            return job;
        }
        keep(buffer, static_cast<size_t>(n), limits, spool, job);
    }
}

} // namespace varkon
