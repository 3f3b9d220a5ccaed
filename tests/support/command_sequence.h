// SPDX-License-Identifier: GPL-2.0-or-later
// Header-only: it reads the bound job's prntLastError, so only tests linked with
// the raster core include it.
// Checking a command sequence of the printer language item by item: the bytes a
// Prnt_ operation writes to descriptor 1, and, for each item that can fail, the
// failure text it leaves when the printer stream refuses exactly that item.
#pragma once

#include "hex_bytes.h"
#include "job_context.h"
#include "limited_stdout.h"
#include "stdout_capture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

namespace varkon::test {

struct SequenceItem {
    std::string data;     // the bytes expected on the wire
    std::string failure;  // text in front of prntLastError when this write fails; empty: none checked
    // For items that depend on the clock: accepts the bytes actually written in their place.
    std::function<bool(const std::string &)> accepts;
};
using Sequence = std::vector<SequenceItem>;

struct CapturedRun {
    int result = -1;
    std::string out;   // what reached descriptor 1
    std::string error; // prntLastError afterwards (cleared before the run)
};

// An item without failure text, such as the two zero bytes between frames.
inline SequenceItem plain(const std::string &data) { return {data, "", nullptr}; }

// Runs op with descriptor 1 captured; only `limit` bytes are accepted when given.
inline CapturedRun run_captured(const std::function<int()> &op, size_t limit = std::string::npos)
{
    CapturedRun run;
    varkon::job_context().prntLastError[0] = '\0';
    if (limit == std::string::npos) {
        StdoutCapture capture;
        run.result = op();
        run.out = capture.finish();
    } else {
        LimitedStdout capture(limit);
        run.result = op();
        run.out = capture.finish();
    }
    run.error = varkon::job_context().prntLastError;
    return run;
}

// The sequence's bytes, with clock-dependent items replaced by what `out` holds
// in their place when they accept it.
inline std::string expected_bytes(const Sequence &sequence, const std::string &out)
{
    std::string expected;
    for (const auto &item : sequence) {
        const std::string actual = out.substr(std::min(expected.size(), out.size()), item.data.size());
        expected += (item.accepts && actual.size() == item.data.size() && item.accepts(actual)) ? actual : item.data;
    }
    return expected;
}

// Checks the whole sequence (result 1, exact bytes) and, for every item with a
// failure text, a run in which that item is the first write refused.
inline void expect_sequence(const Sequence &sequence, const std::function<int()> &op)
{
    const CapturedRun whole = run_captured(op);
    EXPECT_EQ(whole.result, 1) << whole.error;
    const std::string expected = expected_bytes(sequence, whole.out);
    EXPECT_EQ(hex(whole.out), hex(expected));

    size_t offset = 0;
    for (const auto &item : sequence) {
        if (!item.failure.empty()) {
            const CapturedRun refused = run_captured(op, offset);
            EXPECT_EQ(refused.result, 0) << "refused at byte " << offset << ": " << item.failure;
            EXPECT_EQ(refused.error.substr(0, item.failure.size()), item.failure) << "refused at byte " << offset;
            EXPECT_EQ(hex(refused.out), hex(expected_bytes(sequence, refused.out).substr(0, offset)));
        }
        offset += item.data.size();
    }
}

} // namespace varkon::test
