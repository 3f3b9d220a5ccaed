// SPDX-License-Identifier: GPL-2.0-or-later
// rastertoVarkon under injected faults, through the real binary: the printer
// stream closed, full or read slowly; the temporary folder missing, read-only
// or full; SIGTERM before the first page, while a page's rows are awaited or
// read, while a page is compressed, during the collated and manual-duplex
// replays and during the manual-duplex wait. Each run ends within 2 seconds
// of the signal, with "nothing lost" (raster_outcome.h), no spool file left
// and no program started; a cancelled job ends after a whole page with the job
// end of its platform (on M a page cancelled during its rows has none).
#include "raster_fault_run.h"
#include "build_kind.h"
#include "filter_job.h"
#include "raster_outcome.h"
#include "raw_raster.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/mount.h>

#include <filesystem>
#include <string>
#include <vector>

namespace {

using namespace varkon::test;
namespace decode = varkon::decode;

constexpr double kPromptly = 2.0 * kSlowdown; // seconds from SIGTERM to the end of the filter

// Strokes and gray that compress poorly, different on every page.
LineFill busy(unsigned page)
{
    return [page](unsigned y, unsigned char *line, unsigned bytes) {
        for (unsigned x = 0; x < bytes; ++x)
            line[x] = static_cast<unsigned char>((x * 37 + y * 101 + (x * y) % 17 + page * 59) & 0xFF);
    };
}

std::string busy_a6_job(unsigned pages, unsigned copies = 1)
{
    std::vector<RasterPage> list;
    for (unsigned n = 0; n < pages; ++n) {
        cups_page_header2_t h = gray_header(298, 420);
        h.NumCopies = copies;
        list.emplace_back(h, busy(n));
    }
    return make_raster(list);
}

bool logged(const FaultResult &r, const std::string &text) { return r.err.find(text) != std::string::npos; }

// The end of a log, where a failed job says why.
std::string log_tail(const FaultResult &r) { return r.err.size() > 3000 ? r.err.substr(r.err.size() - 3000) : r.err; }

// The stream without its keep-alive: every item but the runs of 00 00 pairs.
std::string without_zero_pairs(const std::string &stream)
{
    const decode::DecodedStream s = decode_quickly(stream);
    std::string kept;
    for (const decode::Item &item : s.items)
        if (item.name != "00 00")
            kept += stream.substr(item.offset, item.length);
    return kept;
}

class RasterFaults : public ::testing::Test {
protected:
    static void SetUpTestSuite() { signal(SIGPIPE, SIG_IGN); }
    void TearDown() override
    {
        if (mounted_)
            umount2(mount_point_.c_str(), MNT_DETACH);
        RecordProperty("faults", injected_);
    }

    // What holds after every fault.
    void expect_clean_end(const FaultResult &r, const FilterJob &job, const Expected &expected = {})
    {
        EXPECT_FALSE(r.timed_out);
        EXPECT_EQ(r.term_signal, 0);
        if (r.sigterm_sent) {
            EXPECT_LT(r.exit_after_sigterm_s, kPromptly);
        }
        // A copy of the filter itself is no program: the leak checker of a
        // sanitized build clones the process at its exit.
        for (const std::string &name : r.program_names) {
            if (!name.empty()) { // gone before its name was read
                EXPECT_EQ(name, "rastertoVarkon") << "the filter started a program";
            }
        }
        EXPECT_TRUE(nothing_lost(r.exit_code, r.out, r.err, expected)) << log_tail(r);
        if (std::filesystem::exists(job.tmpdir)) {
            EXPECT_TRUE(job.leftovers().empty()) << "spool file left behind";
        }
        ++injected_;
    }

    // A tmpfs as the job's TMPDIR; false where this machine cannot mount one.
    bool mount_tmpdir(const FilterJob &job, const std::string &options)
    {
        if (mounted_)
            umount2(mount_point_.c_str(), MNT_DETACH);
        mount_point_ = job.tmpdir;
        mounted_ = mount("varkon-test", job.tmpdir.c_str(), "tmpfs", 0, options.c_str()) == 0;
        return mounted_;
    }

    int injected_ = 0;
    bool mounted_ = false;
    std::string mount_point_;
};

// --- The printer stream ---

TEST_F(RasterFaults, APrinterStreamThatCannotBeWrittenFailsTheJob)
{
    const std::string raster = busy_a6_job(3, 3);
    for (const StdoutFault fault : {StdoutFault::Closed, StdoutFault::Full}) {
        for (int platform : {1, 2, 3}) {
            for (const char *options : {"", "Collate=true"}) {
                SCOPED_TRACE(std::string(fault == StdoutFault::Closed ? "closed" : "full") + ", platform " +
                             std::to_string(platform) + ", \"" + options + "\"");
                FilterJob job(platform_ppd(platform));
                job.options = options;
                FaultRun run = raster_fault_run(job, raster);
                run.stdout_fault = fault;
                const FaultResult r = run_with_faults(run);
                expect_clean_end(r, job);
                EXPECT_EQ(r.exit_code, 1);
                EXPECT_TRUE(logged(r, fault == StdoutFault::Closed
                                          ? "ERROR: The printer data could not be sent: Broken pipe\n"
                                          : "ERROR: The printer data could not be sent: No space left on device\n"))
                    << log_tail(r);
            }
        }
    }
}

// A backend that reads slowly gets the same job, keep-alive pairs at most added between frames.
TEST_F(RasterFaults, ASlowReaderGetsTheWholeJob)
{
    const std::string raster = busy_a6_job(3, 2);
    for (int platform : {1, 2, 3}) {
        SCOPED_TRACE("platform " + std::to_string(platform));
        FilterJob job(platform_ppd(platform));
        job.options = "Collate=true";
        const ProcessResult fast = job.run_stdin(raster);
        ASSERT_EQ(fast.exit_code, 0) << fast.err;
        FaultRun run = raster_fault_run(job, raster);
        run.stdout_fault = StdoutFault::Slow;
        run.slow_chunk = 4096;
        run.slow_pause_ms = 3;
        const FaultResult r = run_with_faults(run);
        expect_clean_end(r, job, {3});
        ASSERT_EQ(r.exit_code, 0);
        EXPECT_EQ(decode_quickly(r.out).pages.size(), 6u);
        EXPECT_TRUE(without_zero_pairs(without_job_time(r.out)) == without_zero_pairs(without_job_time(fast.out)));
    }
}

// --- The temporary folder ---

struct SpoolingJob {
    const char *name;
    const char *options;
    bool manualDuplex;
};
const SpoolingJob kSpoolingJobs[] = {{"collated", "Collate=true", false},
                                     {"manual duplex", "ManualDuplex=true", true}};

// Spool files that cannot be made stop the job before its first byte.
TEST_F(RasterFaults, ATemporaryFolderThatIsMissingOrReadOnlySendsNothing)
{
    const std::string raster = busy_a6_job(3, 2);
    for (const bool readOnly : {false, true}) {
        for (const SpoolingJob &spooling : kSpoolingJobs) {
            SCOPED_TRACE(std::string(readOnly ? "read-only, " : "missing, ") + spooling.name);
            FilterJob job(platform_ppd(2));
            job.options = spooling.options;
            if (readOnly) {
                if (!mount_tmpdir(job, "ro,size=64k"))
                    GTEST_SKIP() << "no tmpfs can be mounted here (needs root and CAP_SYS_ADMIN)";
            } else {
                std::filesystem::remove(job.tmpdir);
            }
            const FaultResult r = run_with_faults(raster_fault_run(job, raster));
            expect_clean_end(r, job);
            EXPECT_EQ(r.exit_code, 1);
            EXPECT_EQ(r.out, "");
            EXPECT_TRUE(logged(r, spooling.manualDuplex ? "ERROR: Unable to create the spool files for manual duplex"
                                                        : "ERROR: Unable to create the spool file for collated copies"))
                << log_tail(r);
        }
    }
}

// Spool files that fill up: the pages printed at once stay complete, the job
// ends with its job end and an ERROR line, the full folder is empty again.
TEST_F(RasterFaults, ATemporaryFolderThatFillsUpFailsTheJobAfterAWholeStream)
{
    const std::string raster = busy_a6_job(4, 2);
    for (const SpoolingJob &spooling : kSpoolingJobs) {
        SCOPED_TRACE(spooling.name);
        FilterJob job(platform_ppd(2));
        job.options = spooling.options;
        if (!mount_tmpdir(job, "size=64k,mode=0700"))
            GTEST_SKIP() << "no tmpfs can be mounted here (needs root and CAP_SYS_ADMIN)";
        FaultRun run = raster_fault_run(job, raster);
        if (spooling.manualDuplex) // the wait for the user to turn the stack is cut short
            run.sigterm_when = [](const FaultProgress &p) { return ends_with_job_end(p.out); };
        const FaultResult r = run_with_faults(run);
        Expected expected;
        expected.back_sides_dropped = spooling.manualDuplex;
        expect_clean_end(r, job, expected);
        EXPECT_EQ(r.exit_code, 1);
        EXPECT_TRUE(logged(r, "ERROR: A spool file could not be written; copies and back sides are not sent.\n"))
            << log_tail(r);
        EXPECT_TRUE(ends_with_job_end(r.out));
        const decode::DecodedStream s = decode_quickly(r.out);
        EXPECT_EQ(s.pages.size(), spooling.manualDuplex ? 2u : 4u);
    }
}

// --- Cancellation at each stage ---

TEST_F(RasterFaults, CancelBeforeTheFirstPageEndsWithoutOutput)
{
    for (int platform : {1, 2, 3}) {
        SCOPED_TRACE("platform " + std::to_string(platform));
        FilterJob job(platform_ppd(platform));
        FaultRun run = raster_fault_run(job, "");
        run.hold_stdin_open = true; // the raster never comes
        run.sigterm_when = [](const FaultProgress &p) { return p.elapsed_s > 0.3; };
        const FaultResult r = run_with_faults(run);
        ASSERT_TRUE(r.sigterm_sent);
        expect_clean_end(r, job, {0, true});
        EXPECT_EQ(r.out, "");
        EXPECT_TRUE(logged(r, "ERROR: No pages found!\n"));
    }
}

// The filter waits for the rest of a page that never comes, or reads a page
// that keeps coming, when the job is cancelled.
TEST_F(RasterFaults, CancelDuringThePageRowsEndsAtAPageBoundary)
{
    const std::string raster = busy_a6_job(6);
    for (int platform : {1, 2, 3}) {
        for (const bool waiting : {true, false}) {
            for (const char *threads : {"1", "4"}) {
                SCOPED_TRACE("platform " + std::to_string(platform) + (waiting ? ", waiting" : ", reading") + ", " +
                             threads + " threads");
                FilterJob job(platform_ppd(platform));
                job.process.env.push_back(std::string("VARKON_THREADS=") + threads);
                FaultRun run = raster_fault_run(job, waiting ? raster.substr(0, raster.size() / 12) : raster);
                run.hold_stdin_open = waiting;
                run.sigterm_when = [waiting](const FaultProgress &p) {
                    return waiting ? p.elapsed_s > 0.5 : p.err.find("INFO: Printing page 3, 25%") != std::string::npos;
                };
                const FaultResult r = run_with_faults(run);
                ASSERT_TRUE(r.sigterm_sent);
                expect_clean_end(r, job, {-1, true, platform == 3});
                EXPECT_EQ(r.exit_code, 0);
                const decode::DecodedStream s = decode_quickly(r.out);
                if (platform == 3) {
                    EXPECT_FALSE(s.job_ended) << "platform M: a page cancelled during its rows ends the program";
                } else {
                    EXPECT_TRUE(s.job_ended);
                    EXPECT_EQ(s.pages.size(), waiting ? 1u : 3u);
                }
            }
        }
    }
}

// A 1200 x 1200 dpi A5 page of photo-like gray on platform C (6656 x 9472
// device pixels) is still being compressed when the signal comes: the page
// goes out whole and the job ends. (The page under way is finished, not cut:
// at Legal size, or with pure noise, that alone can take libjbig over a second.)
TEST_F(RasterFaults, CancelWhileAPageIsCompressedEndsAfterIt)
{
    const RasterPage page(gray_header(420, 595, 1200), busy(0));
    const std::string raster = raw_raster({page}, RawFormat::Uncompressed);
    for (const char *threads : {"1", "8"}) {
        SCOPED_TRACE(std::string(threads) + " threads");
        FilterJob job(platform_ppd(1));
        job.options = "DPI1200=True";
        job.process.env.push_back(std::string("VARKON_THREADS=") + threads);
        FaultRun run = raster_fault_run(job, raster);
        // After the last row: compressed on this thread, or still on a helper.
        run.sigterm_when = [](const FaultProgress &p) {
            return p.err.find("DEBUG: ##page is 1, rotate180 is 0") != std::string::npos;
        };
        const FaultResult r = run_with_faults(run);
        ASSERT_TRUE(r.sigterm_sent);
        expect_clean_end(r, job, {1, true});
        EXPECT_EQ(r.exit_code, 0);
        const decode::DecodedStream s = decode_quickly(r.out);
        ASSERT_EQ(s.pages.size(), 1u);
        EXPECT_EQ(s.pages[0].width, 6656u);
        EXPECT_EQ(s.pages[0].height, 9472u);
        RecordProperty(std::string("exit_after_sigterm_ms_threads_") + threads,
                       static_cast<int>(r.exit_after_sigterm_s * 1000));
    }
}

// The copies follow from the spool; a slow backend keeps the replay going when
// the job is cancelled, which must still end after a whole page.
TEST_F(RasterFaults, CancelDuringTheCollatedReplayEndsAfterAWholePage)
{
    const std::string raster = busy_a6_job(4, 3);
    for (int platform : {1, 2, 3}) {
        SCOPED_TRACE("platform " + std::to_string(platform));
        FilterJob job(platform_ppd(platform));
        job.options = "Collate=true";
        const ProcessResult whole = job.run_stdin(raster);
        const decode::DecodedStream w = decode_quickly(whole.out);
        ASSERT_EQ(w.pages.size(), 12u);
        // Somewhere in the middle of a page of the second copy.
        const size_t cut = (w.pages[5].offset + w.pages[6].offset) / 2;
        FaultRun run = raster_fault_run(job, raster);
        run.stdout_fault = StdoutFault::Slow;
        run.slow_chunk = 2048;
        run.slow_pause_ms = 2;
        run.sigterm_when = [cut](const FaultProgress &p) { return p.out.size() > cut; };
        const FaultResult r = run_with_faults(run);
        ASSERT_TRUE(r.sigterm_sent);
        Expected expected{4, true};
        expected.uncancelled_stream = whole.out;
        expect_clean_end(r, job, expected);
        EXPECT_EQ(r.exit_code, 0);
        // Up to the job end, which follows the last whole page.
        const decode::DecodedStream s = decode_quickly(r.out);
        EXPECT_GE(s.pages.size(), 6u);
        EXPECT_LT(s.pages.size(), 12u);
        EXPECT_LT(r.out.size(), whole.out.size());
    }
}

// Manual duplex: the back sides follow the user's turn of the stack; the
// signal comes while the back sides are replayed, or during the wait after the job.
TEST_F(RasterFaults, CancelDuringManualDuplexEndsAfterAWholePage)
{
    const std::string raster = busy_a6_job(7, 2);
    for (const char *options : {"ManualDuplex=true", "ManualDuplex=true Collate=true"}) {
        std::string uncancelled; // the stream of the job cancelled only during the wait
        for (const bool duringReplay : {false, true}) {
            SCOPED_TRACE(std::string(options) + (duringReplay ? ", during the replay" : ", during the wait"));
            TestPpd ppd = platform_ppd(2);
            ppd.manualDuplexMessage = "Turn the stack over";
            FilterJob job(ppd);
            job.options = options;
            FaultRun run = raster_fault_run(job, raster);
            run.stdout_fault = StdoutFault::Slow;
            run.slow_chunk = 4096;
            run.slow_pause_ms = 2;
            // During the replay: 64 KiB after the message that asks for the turn.
            run.sigterm_when = [duringReplay, asked = std::string::npos](const FaultProgress &p) mutable {
                if (!duringReplay)
                    return ends_with_job_end(p.out);
                if (asked == std::string::npos && p.err.find("INFO:Turn the stack over\n") != std::string::npos)
                    asked = p.out.size();
                return asked != std::string::npos && p.out.size() > asked + 65536;
            };
            const FaultResult r = run_with_faults(run);
            ASSERT_TRUE(r.sigterm_sent);
            Expected expected{7, true};
            expected.uncancelled_stream = uncancelled;
            expect_clean_end(r, job, expected);
            EXPECT_EQ(r.exit_code, 0);
            EXPECT_TRUE(ends_with_job_end(r.out));
            const decode::DecodedStream s = decode_quickly(r.out);
            if (!duringReplay) {
                EXPECT_TRUE(s.job_ended);
                EXPECT_EQ(s.pages.size(), std::string(options).find("Collate") != std::string::npos ? 16u : 8u);
                uncancelled = r.out;
            } else {
                EXPECT_LT(r.out.size(), uncancelled.size());
            }
        }
    }
}

} // namespace
