// SPDX-License-Identifier: GPL-2.0-or-later
// Printer family classification: the device ID first, the PPD's nickname without one.
#include "printer_families.h"

#include "job_state.h"
#include "ppd_file.h"
#include "text_search.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {

// The queue's ShortNickName, logged as it is read; empty when the PPD has none.
std::string ppd_short_nickname()
{
    const varkon::PpdFile ppd = varkon::open_job_ppd();
    if (!ppd)
        return {};
    ppd_attr_t *attr = ppdFindAttr(ppd.get(), "ShortNickName", nullptr);
    if (attr == nullptr || attr->value == nullptr)
        return {};
    std::fprintf(stderr, "attr->value :%s.\n", attr->value);
    return attr->value;
}

bool holds_jurvex_designation(const std::string &subject)
{
    for (const auto &designation : jurvex_printerinfo)
        if (varkon::contains_nocase(subject, designation))
            return true;
    return false;
}

} // namespace

void isJurvexPrinter(const char *deviceId, bool haveId)
{
    const std::string subject = haveId && deviceId != nullptr ? std::string(deviceId) : ppd_short_nickname();
    if (!subject.empty() && holds_jurvex_designation(subject))
        isjurvex = 1;
}

bool isHalvexPrinter(const char *deviceId, bool haveId)
{
    if (haveId) {
        if (deviceId == nullptr)
            return false;
        for (const auto &id : Halvex_1284info)
            if (std::strstr(deviceId, id.mfg) && std::strstr(deviceId, id.mdl) && std::strstr(deviceId, id.cls))
                return true;
        return false;
    }
    const std::string nickname = ppd_short_nickname();
    for (std::size_t i = 0; Halvex_printerinfo[i] != nullptr; ++i)
        if (nickname.size() == std::strlen(Halvex_printerinfo[i]) &&
            varkon::contains_nocase(nickname, Halvex_printerinfo[i]))
            return true;
    return false;
}
