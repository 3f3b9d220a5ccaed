// Reading the printer's job-status reply.
#include "snmp_datagrams.h"

#include <cstring>
#include <string_view>

const char *varkon::status_reply_owner(const unsigned char *reply, int received, std::size_t *length)
{
    *length = 0;
    if (!reply || received < static_cast<int>(kStatusRecordSize))
        return "";
    const auto *owner = reinterpret_cast<const char *>(reply + received - kStatusRecordSize + kStatusOwnerOffset);
    *length = strnlen(owner, kStatusRecordSize - kStatusOwnerOffset);
    return owner;
}

bool varkon::status_reply_shows_cancel(const unsigned char *reply, int received, const char *jobower)
{
    if (!reply || received < static_cast<int>(kStatusRecordSize))
        return false;
    const unsigned char *record = reply + received - kStatusRecordSize;
    if (!is_cancelled_status(record[0]))
        return false;
    std::size_t owner_length = 0;
    const char *owner = status_reply_owner(reply, received, &owner_length);
    return std::string_view(owner, owner_length).find(jobower ? jobower : "") != std::string_view::npos;
}
