// SPDX-License-Identifier: GPL-2.0-or-later
// Process-wide job state of rastertoVarkon and the failure-text convention.
#include "job_state.h"

#include <algorithm>
#include <cstring>

int g_page = 0;
std::atomic<int> Canceled{0};
char gPPDFile[1024] = {};
char prntLastError[1024] = {};

namespace varkon {

void prepend_last_error(const char *text)
{
    char combined[sizeof prntLastError];
    const size_t cap = sizeof combined - 1;
    const size_t text_len = std::min(std::strlen(text), cap);
    std::memcpy(combined, text, text_len);
    const size_t old_len = std::min(std::strlen(prntLastError), cap - text_len);
    std::memcpy(combined + text_len, prntLastError, old_len);
    combined[text_len + old_len] = '\0';
    std::memcpy(prntLastError, combined, text_len + old_len + 1);
}

} // namespace varkon
