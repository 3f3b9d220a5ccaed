// SPDX-License-Identifier: GPL-2.0-or-later
// The device-ID question to the backend over the CUPS side channel, with a
// bounded wait: queues whose backend never answers (file: devices, backends
// without side-channel support) must not hold the job.
#pragma once

namespace varkon {

// The longest wait for the backend's answer. CUPS's socket backend needs
// about 5 s to give up when the printer has no SNMP agent; backends that know
// the ID answer within milliseconds.
inline constexpr double kDeviceIdWaitSeconds = 6.0;

// The process's side channel as the device-ID queries see it: at most one
// request is outstanding, and once a wait ran out the channel is taken for
// silent, so later queries only pick up a late answer instead of waiting again.
class DeviceIdChannel {
public:
    explicit DeviceIdChannel(double wait_seconds = kDeviceIdWaitSeconds) : wait_ms_(to_ms(wait_seconds)) {}

    // One question: the ID into `id` (room for `*length` bytes plus a
    // terminator), `*length` set to what came. False without an answer, with
    // a failed or empty answer, or once the job is cancelled.
    bool ask(char *id, int *length);

private:
    static int to_ms(double seconds) { return static_cast<int>(seconds * 1000.0); }
    // Waits for the answer; false when the wait ran out or the job was cancelled.
    bool answer_arrives(int wait_ms) const;

    int wait_ms_;
    bool request_outstanding_ = false;
    bool silent_ = false;
};

// The channel of this process, used by query1284info.
DeviceIdChannel &device_id_channel();

} // namespace varkon
