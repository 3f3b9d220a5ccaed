// SPDX-License-Identifier: GPL-2.0-or-later
// Owning handles for the queue's PPD and a parsed job option list.
#pragma once

#include "ppd_closer.h"

#include <cups/cups.h>
#include <cups/ppd.h>

#include <cstdlib>

namespace varkon {

// The PPD that CUPS names in the environment; empty when unset or unreadable.
inline PpdFile open_job_ppd()
{
    const char *path = std::getenv("PPD");
    return PpdFile(path != nullptr ? ppdOpenFile(path) : nullptr);
}

// The options text of a job, parsed the way CUPS parses it.
class JobOptions {
public:
    explicit JobOptions(const char *text) { count_ = cupsParseOptions(text, 0, &options_); }
    ~JobOptions() { cupsFreeOptions(count_, options_); }
    JobOptions(const JobOptions &) = delete;
    JobOptions &operator=(const JobOptions &) = delete;

    const char *get(const char *name) const { return cupsGetOption(name, count_, options_); }

private:
    int count_ = 0;
    cups_option_t *options_ = nullptr;
};

} // namespace varkon
