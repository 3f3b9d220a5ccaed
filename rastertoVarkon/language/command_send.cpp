// SPDX-License-Identifier: GPL-2.0-or-later
// The one place where the command layer hands bytes to the output sink.
#include "command_send.h"

#include "job_context.h"
#include "output_sink.h"

namespace varkon {

int send_item(const unsigned char *data, size_t count, int cache, const char *failure)
{
    if (SendDataToFile(data, count, cache) != 0)
        return 1;
    return fail(failure);
}

int fail(const char *failure)
{
    prepend_last_error(failure);
    return 0;
}

} // namespace varkon
