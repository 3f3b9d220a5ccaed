// SPDX-License-Identifier: GPL-2.0-or-later
// Printer lookup by queue name in the CUPS destination list.
#include "queue_lookup.h"

#include "liaison.h"

#include <cups/cups.h>

#include <cctype>
#include <cstring>
#include <memory>

namespace {

// The decoder works in a 1024-byte field, and reads two characters after a
// trailing '%': a URI is compared only when that stays inside the field.
constexpr std::size_t kUriWorkField = 1024;
constexpr std::size_t kLongestUri = kUriWorkField - 3;

struct DestList {
    int count = 0;
    cups_dest_t *dests = nullptr;
    DestList() { count = cupsGetDests(&dests); }
    ~DestList() { cupsFreeDests(count, dests); }
    DestList(const DestList &) = delete;
    DestList &operator=(const DestList &) = delete;
};

// Whether the last segment of `uri`, lower-cased and then percent-decoded,
// names `queue_lower`.
bool uri_names_queue(const char *uri, const char *queue_lower)
{
    if (std::strlen(uri) > kLongestUri)
        return false;
    char decoded[kUriWorkField] = {};
    strToLower(uri, decoded);
    urldecode(decoded);
    const char *slash = std::strrchr(decoded, '/');
    return slash != nullptr && std::strcmp(slash + 1, queue_lower) == 0;
}

// A value that does not fit its field leaves it empty rather than cut: a
// shortened device URI would name another device.
void copy_value(char *field, const char *value)
{
    std::memset(field, 0, kQueueValueField);
    if (value != nullptr && std::strlen(value) < kQueueValueField)
        std::strcpy(field, value);
}

} // namespace

void strToLower(const char *source, char *target)
{
    if (source == nullptr || target == nullptr)
        return;
    for (std::size_t i = 0; source[i] != '\0'; ++i)
        target[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(source[i])));
}

int getPrinter_optiopns(const char *queue, char *deviceUri, char *makeAndModel)
{
    const DestList list;
    if (queue == nullptr || deviceUri == nullptr || makeAndModel == nullptr)
        return 0;
    if (std::strlen(queue) >= kUriWorkField)
        return 0;
    char queue_lower[kUriWorkField] = {};
    strToLower(queue, queue_lower);

    for (int i = 0; i < list.count; ++i) {
        const cups_dest_t &dest = list.dests[i];
        if (dest.instance != nullptr)
            continue;
        const char *uri = cupsGetOption("printer-uri-supported", dest.num_options, dest.options);
        if (uri == nullptr || !uri_names_queue(uri, queue_lower))
            continue;
        // No break: when several destinations match, the last one wins.
        copy_value(makeAndModel, cupsGetOption("printer-make-and-model", dest.num_options, dest.options));
        copy_value(deviceUri, cupsGetOption("device-uri", dest.num_options, dest.options));
    }
    return 0;
}
