// SPDX-License-Identifier: GPL-2.0-or-later
// What must hold at the end of every rastertoVarkon job, whatever its input or
// fault ("nothing lost"): each page read reaches the printer stream complete,
// with its "PAGE:" line, or the job ends with an "ERROR:" line and exit status 1;
// exit 0 only with a complete stream; never half a frame or half a job at the end
// of the stream; no "PAGE:" or "ATTR:" line that the job's own texts made up.
//
// Header only: the support library does not link the decoder, the integration
// tests that include this do.
#pragma once

#include "varkon_decode.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

namespace varkon::test {

// The lines of a filter log that CUPS acts on or shows.
struct JobLog {
    std::vector<int> pages;          // numbers of the "PAGE: n copies" lines, in order
    std::vector<std::string> errors; // "ERROR:" lines
    std::vector<std::string> forged; // "PAGE:" lines of another form, "ATTR:", "STATE:", "PPD:" lines
    bool ready = false;              // "INFO: Ready to print."
};

inline JobLog read_job_log(const std::string &err)
{
    JobLog log;
    std::istringstream lines(err);
    for (std::string line; std::getline(lines, line);) {
        int page = 0, copies = 0;
        char rest = 0;
        if (line.rfind("PAGE:", 0) == 0) {
            if (std::sscanf(line.c_str(), "PAGE: %d %d%c", &page, &copies, &rest) == 2)
                log.pages.push_back(page);
            else
                log.forged.push_back(line);
        }
        for (const char *prefix : {"ATTR:", "STATE:", "PPD:"})
            if (line.rfind(prefix, 0) == 0)
                log.forged.push_back(line);
        if (line.rfind("ERROR:", 0) == 0)
            log.errors.push_back(line);
        log.ready = log.ready || line == "INFO: Ready to print.";
    }
    return log;
}

// The printer stream decoded without keeping pixels.
inline varkon::decode::DecodedStream decode_quickly(const std::string &out)
{
    varkon::decode::DecodeOptions options;
    options.keep_pixels = false;
    return varkon::decode::decode_stream(reinterpret_cast<const unsigned char *>(out.data()), out.size(), options);
}

struct Expected {
    long raster_pages = -1;      // pages in the input; -1: not known to the test
    bool cancelled = false;      // SIGTERM was sent
    bool platform_m_cut = false; // a platform-M page may end without job end (cancelled during its rows)
    bool back_sides_dropped = false; // manual duplex that failed to spool: the job end follows the odd pages
    // The stream of the same job run to its end. A cancelled job may then stop
    // in the middle of its copies or passes, after a whole page, when what
    // follows that page is this stream's job end.
    std::string uncancelled_stream{};
};

// Whether a decoder reason says that copies or passes are incomplete, rather than a frame broken.
inline bool reports_missing_pages(const std::string &reason)
{
    int a = 0, b = 0, c = 0;
    return std::sscanf(reason.c_str(), "copy %d ends after %d of its %d pages", &a, &b, &c) == 3 ||
           std::sscanf(reason.c_str(), "page %d is missin%c", &a, reinterpret_cast<char *>(&b)) == 2 ||
           std::sscanf(reason.c_str(), "the second pass has %d copies, the first %d", &a, &b) == 2;
}

// Whether the stream from `offset` on is the job end of the job run to its end.
inline bool rest_is_job_end(const std::string &out, size_t offset, const std::string &uncancelled)
{
    const size_t rest = out.size() - offset;
    constexpr size_t kLongestJobEnd = 256;
    return offset <= out.size() && rest > 0 && rest <= kLongestJobEnd && uncancelled.size() >= rest &&
           uncancelled.compare(uncancelled.size() - rest, rest, out, offset, rest) == 0;
}

// Whether a stream ends where the printer can take it: after a complete job end
// or, on a cancelled platform-M job, after a whole frame inside its last page.
inline ::testing::AssertionResult stream_complete(const std::string &out, const Expected &expected)
{
    const varkon::decode::DecodedStream s = decode_quickly(out);
    if (s.valid() && s.job_ended)
        return ::testing::AssertionSuccess();
    if (s.valid())
        return ::testing::AssertionFailure() << "the stream has no job end";
    const std::string reason = s.violation->reason;
    if (expected.platform_m_cut && s.platform == varkon::decode::Platform::M &&
        reason.rfind("stream ends inside page", 0) == 0)
        return ::testing::AssertionSuccess();
    if (expected.cancelled && !expected.uncancelled_stream.empty() && reports_missing_pages(reason) &&
        rest_is_job_end(out, s.violation->offset, expected.uncancelled_stream))
        return ::testing::AssertionSuccess();
    int missing = 0;
    char rest = 0;
    if (expected.back_sides_dropped && std::sscanf(reason.c_str(), "page %d is missing%c", &missing, &rest) == 1 &&
        missing % 2 == 0 && !s.manual_duplex_at && !s.pages.empty() && s.violation->offset > s.pages.back().offset)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "broken stream: " << varkon::decode::format_violation(*s.violation);
}

// The "nothing lost" rules for one finished run.
inline ::testing::AssertionResult nothing_lost(int exit_code, const std::string &out, const std::string &err,
                                               const Expected &expected = {})
{
    const JobLog log = read_job_log(err);
    if (!log.forged.empty())
        return ::testing::AssertionFailure() << "forged log line: " << log.forged.front();
    for (size_t i = 0; i < log.pages.size(); ++i)
        if (log.pages[i] != static_cast<int>(i) + 1)
            return ::testing::AssertionFailure() << "PAGE lines out of order at " << i + 1;
    if (exit_code == 0) {
        if (!log.errors.empty())
            return ::testing::AssertionFailure() << "exit 0 after " << log.errors.front();
        if (!expected.cancelled && expected.raster_pages >= 0 &&
            static_cast<long>(log.pages.size()) != expected.raster_pages)
            return ::testing::AssertionFailure() << log.pages.size() << " PAGE lines for " << expected.raster_pages
                                                 << " raster pages, exit 0";
        return stream_complete(out, expected);
    }
    if (exit_code != 1)
        return ::testing::AssertionFailure() << "exit status " << exit_code;
    if (log.errors.empty())
        return ::testing::AssertionFailure() << "exit 1 without an ERROR line";
    if (log.ready)
        return ::testing::AssertionFailure() << "exit 1 after \"Ready to print\"";
    if (out.empty())
        return ::testing::AssertionSuccess();
    return stream_complete(out, expected);
}

} // namespace varkon::test
