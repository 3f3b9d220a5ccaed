// SPDX-License-Identifier: GPL-2.0-or-later
// The caller of a libcups call, found by the object its return address lies in.
#include "pappl_caller.h"

#include <dlfcn.h>

#include <cstring>

namespace varkon::app {

bool called_from_pappl(void *returnAddress)
{
    Dl_info info{};
    if (dladdr(returnAddress, &info) == 0 || info.dli_fname == nullptr)
        return false;
    const char *slash = std::strrchr(info.dli_fname, '/');
    return std::strncmp(slash != nullptr ? slash + 1 : info.dli_fname, "libpappl.so", 11) == 0;
}

} // namespace varkon::app
