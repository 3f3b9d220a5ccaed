// SPDX-License-Identifier: GPL-2.0-or-later
// Binding a job to the thread that runs it, the failure-text convention and the job's log.
#include "job_context.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace varkon {

namespace {

thread_local JobContext *t_job = nullptr;

} // namespace

JobContext &job_context()
{
    if (t_job == nullptr) {
        std::fputs("ERROR: Internal error: no raster job on this thread.\n", stderr);
        std::abort();
    }
    return *t_job;
}

bool job_bound() { return t_job != nullptr; }

JobBinding::JobBinding(JobContext &job) : previous_(t_job) { t_job = &job; }

JobBinding::~JobBinding() { t_job = previous_; }

void prepend_last_error(const char *text)
{
    char *last = job_context().prntLastError;
    char combined[sizeof JobContext::prntLastError];
    const size_t cap = sizeof combined - 1;
    const size_t text_len = std::min(std::strlen(text), cap);
    std::memcpy(combined, text, text_len);
    const size_t old_len = std::min(std::strlen(last), cap - text_len);
    std::memcpy(combined + text_len, last, old_len);
    combined[text_len + old_len] = '\0';
    std::memcpy(last, combined, text_len + old_len + 1);
}

void job_log(const char *text)
{
    if (t_job != nullptr && t_job->log)
        t_job->log(text);
    else
        std::fputs(text, stderr);
}

void job_logf(const char *format, ...)
{
    char small[512];
    va_list args;
    va_start(args, format);
    const int needed = std::vsnprintf(small, sizeof small, format, args);
    va_end(args);
    if (needed < 0)
        return;
    if (static_cast<size_t>(needed) < sizeof small) {
        job_log(small);
        return;
    }
    std::string text(static_cast<size_t>(needed) + 1, '\0');
    va_start(args, format);
    std::vsnprintf(text.data(), text.size(), format, args);
    va_end(args);
    job_log(text.c_str());
}

} // namespace varkon
