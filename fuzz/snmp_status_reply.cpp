// SPDX-License-Identifier: GPL-2.0-or-later
// The cancel watcher's reading of a printer's SNMP status reply on arbitrary
// bytes: short, oversized, unterminated or empty owner texts. The reply sits in
// a buffer of exactly its length, so a read past it is caught.
#include "fuzz_input.h"
#include "snmp_datagrams.h"

#include <string>

using varkon::fuzz::require;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    varkon::fuzz::FuzzInput input(data, size);
    const std::string jobower = input.text(64);
    const std::vector<uint8_t> reply = input.rest();
    const unsigned char *bytes = reply.empty() ? nullptr : reply.data();
    const int received = static_cast<int>(reply.size());

    const std::string_view owner = varkon::status_reply_owner(bytes, received);
    const bool cancel = varkon::status_reply_shows_cancel(bytes, received, jobower.c_str());
    if (received < static_cast<int>(varkon::kStatusRecordSize)) {
        require(owner.empty() && !cancel, "a reply without a status record shows nothing");
        return 0;
    }
    const unsigned char *record = bytes + received - varkon::kStatusRecordSize;
    require(owner.data() == reinterpret_cast<const char *>(record + varkon::kStatusOwnerOffset) &&
                owner.size() <= varkon::kStatusRecordSize - varkon::kStatusOwnerOffset,
            "the owner text lies inside the status record");
    const std::string owner_text(jobower.c_str());
    require(cancel == (varkon::is_cancelled_status(record[0]) && owner.find(owner_text) != std::string_view::npos),
            "a cancel is this owner's job with a cancelled status");
    // The watcher hands over fewer bytes than its buffer holds as well.
    for (int shorter = received; shorter > received - 4 && shorter >= 0; --shorter)
        varkon::status_reply_shows_cancel(bytes, shorter, jobower.c_str());
    return 0;
}
