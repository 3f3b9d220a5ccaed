// SPDX-License-Identifier: GPL-2.0-or-later
// Reading the printer's job-status reply.
#include "snmp_datagrams.h"

#include <cstring>

std::string_view varkon::status_reply_owner(const unsigned char *reply, int received)
{
    if (!reply || received < static_cast<int>(kStatusRecordSize))
        return {};
    const auto *owner = reinterpret_cast<const char *>(reply + received - kStatusRecordSize + kStatusOwnerOffset);
    return {owner, strnlen(owner, kStatusRecordSize - kStatusOwnerOffset)};
}

bool varkon::status_reply_shows_cancel(const unsigned char *reply, int received, const char *jobower)
{
    if (!reply || received < static_cast<int>(kStatusRecordSize))
        return false;
    const unsigned char *record = reply + received - kStatusRecordSize;
    if (!is_cancelled_status(record[0]))
        return false;
    return status_reply_owner(reply, received).find(jobower ? jobower : "") != std::string_view::npos;
}
