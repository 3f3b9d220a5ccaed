// SPDX-License-Identifier: GPL-2.0-or-later
// The backend's side of the side channel: [command, status, length (2 bytes,
// big-endian), data], one message per write, as libcups frames it.
#include "side_channel_standin.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>
#include <vector>

namespace varkon::test {

namespace {

constexpr int kSideChannelFd = 4;
constexpr std::size_t kLongestData = 65535;

} // namespace

SideChannelStandin::SideChannelStandin(std::string device_id, int status, std::chrono::milliseconds delay)
    : device_id_(std::move(device_id)), status_(status), delay_(delay)
{
    if (device_id_.size() > kLongestData)
        throw std::invalid_argument("side channel data holds at most 65535 bytes");
    saved_fd4_ = fcntl(kSideChannelFd, F_DUPFD_CLOEXEC, 10);
    int pair[2];
    if (socketpair(AF_LOCAL, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0)
        throw std::runtime_error("socketpair failed");
    // Our end away from descriptor 4, which socketpair may have handed out.
    ours_ = fcntl(pair[0], F_DUPFD_CLOEXEC, 10);
    close(pair[0]);
    if (pair[1] != kSideChannelFd) {
        dup2(pair[1], kSideChannelFd);
        close(pair[1]);
    }
    fcntl(kSideChannelFd, F_SETFD, 0); // filters inherit it
    server_ = std::thread([this] { serve(); });
}

SideChannelStandin::~SideChannelStandin()
{
    stop_ = true;
    server_.join();
    close(ours_);
    if (saved_fd4_ >= 0) {
        dup2(saved_fd4_, kSideChannelFd);
        close(saved_fd4_);
    } else {
        close(kSideChannelFd);
    }
}

bool SideChannelStandin::hold_answer() const
{
    const auto due = std::chrono::steady_clock::now() + delay_;
    while (!stop_ && (delay_ == kNever || std::chrono::steady_clock::now() < due))
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return !stop_;
}

void SideChannelStandin::serve()
{
    unsigned char request[4 + kLongestData];
    while (!stop_) {
        pollfd pfd{ours_, POLLIN, 0};
        if (poll(&pfd, 1, 20) <= 0)
            continue;
        const ssize_t n = read(ours_, request, sizeof request);
        if (n < 4)
            continue;
        ++requests_;
        if (delay_ != std::chrono::milliseconds(0) && !hold_answer())
            return;
        std::vector<unsigned char> answer = {request[0], static_cast<unsigned char>(status_),
                                             static_cast<unsigned char>(device_id_.size() >> 8),
                                             static_cast<unsigned char>(device_id_.size() & 0xFF)};
        answer.insert(answer.end(), device_id_.begin(), device_id_.end());
        if (write(ours_, answer.data(), answer.size()) < 0)
            continue;
    }
}

} // namespace varkon::test
