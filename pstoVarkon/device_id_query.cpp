// SPDX-License-Identifier: GPL-2.0-or-later
// Device-ID queries over the CUPS side channel, in slices so that a cancelled
// job stops waiting at once.
#include "device_id_query.h"

#include "job_state.h"

#include <cups/sidechannel.h>

#include <poll.h>

#include <cerrno>

namespace varkon {

namespace {

// How often a wait for the answer looks at the cancel flag.
constexpr int kSliceMs = 100;
// For the request to go out and for an answer already there to be read.
constexpr double kTransferSeconds = 1.0;

} // namespace

bool DeviceIdChannel::answer_arrives(int wait_ms) const
{
    for (int waited = 0;;) {
        if (job_canceled.load())
            return false;
        const int slice = wait_ms - waited < kSliceMs ? wait_ms - waited : kSliceMs;
        pollfd channel{CUPS_SC_FD, POLLIN, 0};
        const int ready = poll(&channel, 1, slice);
        if (ready > 0)
            return true; // an answer, or a closed channel that the read reports
        if (ready < 0 && errno != EINTR)
            return true;
        waited += slice;
        if (waited >= wait_ms)
            return false;
    }
}

bool DeviceIdChannel::ask(char *id, int *length)
{
    const int room = *length;
    *length = 0;
    if (job_canceled.load())
        return false;
    if (!request_outstanding_) {
        if (cupsSideChannelWrite(CUPS_SC_CMD_GET_DEVICE_ID, CUPS_SC_STATUS_NONE, nullptr, 0, kTransferSeconds) != 0)
            return false;
        request_outstanding_ = true;
    }
    if (!answer_arrives(silent_ ? 0 : wait_ms_)) {
        silent_ = silent_ || !job_canceled.load();
        return false;
    }
    request_outstanding_ = false;
    silent_ = false;
    cups_sc_command_t command = CUPS_SC_CMD_NONE;
    cups_sc_status_t status = CUPS_SC_STATUS_NONE;
    int received = room;
    if (cupsSideChannelRead(&command, &status, id, &received, kTransferSeconds) != 0)
        return false;
    if (command != CUPS_SC_CMD_GET_DEVICE_ID || status != CUPS_SC_STATUS_OK || received <= 0 || received > room)
        return false;
    *length = received;
    return true;
}

DeviceIdChannel &device_id_channel()
{
    static DeviceIdChannel channel;
    return channel;
}

} // namespace varkon
