// SPDX-License-Identifier: GPL-2.0-or-later
// The real varkon-virtual-printer fed over TCP with streams of the real
// rastertoVarkon: report lines, kept streams and pages against varkon-decode,
// jobs at once, cut, reset, oversized and empty connections, and its ends.
#include "filter_job.h"
#include "run_process.h"
#include "varkon_decode.h"
#include "virtual_printer_run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <thread>

namespace {

using namespace varkon::test;
namespace decode = varkon::decode;
namespace fs = std::filesystem;

const char *const kPlatforms[] = {"", "C", "Z", "M"};

// Byte for byte, and where they part when they do (the streams are too long to print).
::testing::AssertionResult same_bytes(const std::string &got, const std::string &want)
{
    if (got == want)
        return ::testing::AssertionSuccess();
    size_t at = 0;
    while (at < got.size() && at < want.size() && got[at] == want[at])
        ++at;
    return ::testing::AssertionFailure() << got.size() << " bytes instead of " << want.size()
                                         << ", the first difference at offset " << at;
}

bool ends_with(const std::string &text, const std::string &end)
{
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// The listening socket is closed a moment after the printer says it stops.
bool stops_listening(int port)
{
    for (int i = 0; i < 500; ++i) {
        if (!PrinterConnection(port).connected())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

decode::DecodedStream decoded(const std::string &stream)
{
    return decode::decode_stream(reinterpret_cast<const unsigned char *>(stream.data()), stream.size());
}

// Gray noise over the top `rows` lines, different for each seed: the halftone
// keeps it noisy, so the page stays large after compression.
LineFill noise(unsigned rows, unsigned seed)
{
    return [rows, seed](unsigned y, unsigned char *line, unsigned bytes) {
        uint32_t state = seed * 2654435761u + y * 40503u + 1;
        for (unsigned x = 0; y < rows && x < bytes; ++x) {
            state = state * 1664525u + 1013904223u;
            line[x] = static_cast<unsigned char>(state >> 24);
        }
    };
}

// The printer stream of a job of A6 pages with noise at the top, hundreds of
// kilobytes each, so that jobs sent at once are under way together. Jobs of
// another `variant` have other pages.
std::string printer_stream(int platform, int pages, int variant = 0)
{
    std::vector<RasterPage> raster;
    for (int i = 0; i < pages; ++i)
        raster.emplace_back(gray_header(298, 420), noise(800, static_cast<unsigned>(100 * variant + 10 * platform + i)));
    FilterJob job(platform_ppd(platform));
    const ProcessResult r = job.run_stdin(make_raster(raster));
    EXPECT_EQ(r.exit_code, 0) << r.err;
    return r.out;
}

std::string valid_line(int number, int platform, int pages)
{
    return "job " + std::to_string(number) + ": platform " + kPlatforms[platform] + ", " + std::to_string(pages) +
           (pages == 1 ? " page" : " pages") + ", valid";
}

std::string job_name(int number)
{
    char name[16];
    std::snprintf(name, sizeof name, "job-%04d", number);
    return name;
}

// The job's pages are the PNG files varkon-decode writes for the stream, no more, no fewer.
void expect_pages_as_decoder_gives(const std::string &stream, const std::string &job_dir)
{
    TempDir dir;
    write_file(dir.file("job.prn"), stream);
    const ProcessResult ref =
        run_process({built_program("tools/varkon-decode"), "-o", dir.file("ref"), "--png", dir.file("job.prn")});
    ASSERT_EQ(ref.exit_code, 0) << ref.err;
    std::vector<std::string> want, got;
    for (const auto &entry : fs::directory_iterator(dir.file("ref")))
        if (entry.path().extension() == ".png")
            want.push_back(entry.path().filename().string());
    for (const auto &entry : fs::directory_iterator(job_dir))
        got.push_back(entry.path().filename().string());
    std::sort(want.begin(), want.end());
    std::sort(got.begin(), got.end());
    ASSERT_EQ(got, want);
    for (const std::string &page : want)
        EXPECT_TRUE(same_bytes(read_file(job_dir + "/" + page), read_file(dir.file("ref/" + page)))) << page;
}

class VirtualPrinter : public ::testing::Test {
protected:
    std::vector<std::string> with_output(std::vector<std::string> args) const
    {
        args.insert(args.begin(), {"--output", out()});
        return args;
    }
    std::string out() const { return dir_.file("jobs"); }
    std::string kept(int number) const { return read_file(out() + "/" + job_name(number) + ".prn"); }
    std::vector<std::string> files() const
    {
        std::vector<std::string> names;
        for (const auto &entry : fs::recursive_directory_iterator(out()))
            names.push_back(fs::relative(entry.path(), out()).string());
        std::sort(names.begin(), names.end());
        return names;
    }

    TempDir dir_;
};

TEST_F(VirtualPrinter, EachPlatformsJobIsReportedKeptAndPagedAsTheDecoderGives)
{
    VirtualPrinterRun printer(with_output({"--jobs", "3"}));
    ASSERT_NE(printer.port(), 0) << printer.start_failure();
    std::map<int, std::string> sent;
    for (int platform : {1, 2, 3}) {
        SCOPED_TRACE(kPlatforms[platform]);
        sent[platform] = printer_stream(platform, 2);
        PrinterConnection job(printer.port());
        ASSERT_TRUE(job.send(sent[platform]));
        job.finish();
        EXPECT_EQ(printer.next_line(), valid_line(platform, platform, 2));
    }
    EXPECT_EQ(printer.wait_exit(), 0) << printer.log();
    for (int platform : {1, 2, 3}) {
        SCOPED_TRACE(kPlatforms[platform]);
        EXPECT_TRUE(same_bytes(kept(platform), sent[platform]));
        expect_pages_as_decoder_gives(sent[platform], out() + "/" + job_name(platform));
    }
}

TEST_F(VirtualPrinter, JobsSentAtOnceStayApart)
{
    const std::vector<int> platforms = {1, 2, 3, 2};
    std::vector<std::string> sent;
    for (size_t i = 0; i < platforms.size(); ++i)
        sent.push_back(printer_stream(platforms[i], 1 + static_cast<int>(i % 2), static_cast<int>(i)));
    VirtualPrinterRun printer(with_output({"--jobs", "4"}));
    ASSERT_NE(printer.port(), 0) << printer.start_failure();
    // Opened in order, then fed in turns of small pieces, so that every job is under way at once.
    std::vector<std::unique_ptr<PrinterConnection>> jobs;
    for (size_t i = 0; i < sent.size(); ++i)
        jobs.push_back(std::make_unique<PrinterConnection>(printer.port()));
    constexpr size_t kPiece = 1000;
    size_t longest = 0;
    for (const std::string &stream : sent)
        longest = std::max(longest, stream.size());
    for (size_t at = 0; at < longest; at += kPiece) {
        for (size_t i = 0; i < sent.size(); ++i) {
            if (at < sent[i].size()) {
                ASSERT_TRUE(jobs[i]->send(sent[i].substr(at, kPiece)));
            }
        }
    }
    for (auto &job : jobs)
        job->finish();
    std::set<std::string> expected, got;
    for (size_t i = 0; i < sent.size(); ++i)
        expected.insert(valid_line(static_cast<int>(i) + 1, platforms[i], 1 + static_cast<int>(i % 2)));
    for (size_t i = 0; i < sent.size(); ++i)
        got.insert(printer.next_line());
    EXPECT_EQ(got, expected);
    EXPECT_EQ(printer.wait_exit(), 0) << printer.log();
    for (size_t i = 0; i < sent.size(); ++i)
        EXPECT_TRUE(same_bytes(kept(static_cast<int>(i) + 1), sent[i])) << "job " << i + 1;
}

TEST_F(VirtualPrinter, AnEmptyConnectionIsReportedButIsNoJob)
{
    VirtualPrinterRun printer(with_output({"--jobs", "1"}));
    ASSERT_NE(printer.port(), 0) << printer.start_failure();
    { PrinterConnection probe(printer.port()); }
    const std::string line = printer.next_line();
    EXPECT_EQ(line.rfind("connection 1 from 127.0.0.1:", 0), 0u) << line;
    EXPECT_TRUE(ends_with(line, ": empty, no job")) << line;
    EXPECT_EQ(files(), std::vector<std::string>{});

    // --jobs counts the job, not the probe before it.
    const std::string stream = printer_stream(2, 1);
    PrinterConnection job(printer.port());
    ASSERT_TRUE(job.send(stream));
    job.finish();
    EXPECT_EQ(printer.next_line(), valid_line(2, 2, 1));
    EXPECT_EQ(printer.wait_exit(), 0) << printer.log();
    EXPECT_EQ(files(), (std::vector<std::string>{"job-0002", "job-0002.prn", "job-0002/page-001.png"}));
    EXPECT_FALSE(PrinterConnection(printer.port()).connected()) << "still listening after its last job";
}

TEST_F(VirtualPrinter, ASenderThatGoesMidJobGivesACutJobDecodedAsFarAsItGoes)
{
    const std::string stream = printer_stream(2, 2);
    const decode::DecodedStream whole = decoded(stream);
    ASSERT_EQ(whole.pages.size(), 2u);
    // Inside the second page: the first one is whole.
    const std::string first_part = stream.substr(0, whole.pages[1].offset + 40);
    const decode::DecodedStream part = decoded(first_part);
    ASSERT_FALSE(part.valid());

    VirtualPrinterRun printer(with_output({"--jobs", "2"}));
    ASSERT_NE(printer.port(), 0) << printer.start_failure();
    {
        // A sender that dies closes its end as if the job were over.
        PrinterConnection job(printer.port());
        ASSERT_TRUE(job.send(first_part));
    }
    EXPECT_EQ(printer.next_line(),
              "job 1: platform Z, 1 page, invalid: " + decode::format_violation(*part.violation));
    EXPECT_TRUE(same_bytes(kept(1), first_part));

    PrinterConnection reset(printer.port());
    ASSERT_TRUE(reset.send(first_part));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    reset.reset();
    const std::string line = printer.next_line();
    EXPECT_EQ(line.rfind("job 2: platform Z, ", 0), 0u) << line;
    EXPECT_NE(line.find(", invalid: "), std::string::npos) << line;
    EXPECT_NE(line.find("bytes: Connection reset by peer"), std::string::npos) << line;
    // Data still queued when the reset comes may be dropped by the system: a prefix is kept.
    EXPECT_EQ(first_part.compare(0, kept(2).size(), kept(2)), 0);
    EXPECT_EQ(printer.wait_exit(), 0) << printer.log();
}

TEST_F(VirtualPrinter, FailAfterResetsTheConnectionOnlyWhenAJobGoesPastIt)
{
    const std::string small = printer_stream(2, 1), large = printer_stream(2, 2);
    ASSERT_LT(small.size(), large.size());
    VirtualPrinterRun printer(with_output({"--jobs", "2", "--fail-after", std::to_string(small.size())}));
    ASSERT_NE(printer.port(), 0) << printer.start_failure();

    PrinterConnection exact(printer.port());
    ASSERT_TRUE(exact.send(small));
    exact.finish();
    EXPECT_EQ(printer.next_line(), valid_line(1, 2, 1));

    // The sender notices: its writes fail once the printer has gone.
    PrinterConnection cut(printer.port());
    bool failed = !cut.send(large);
    for (int i = 0; i < 200 && !failed; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        failed = !cut.send(large);
    }
    EXPECT_TRUE(failed) << "the sender could go on writing";
    const std::string line = printer.next_line();
    const std::string cut_text = "cut after " + std::to_string(small.size()) + " bytes: the printer reset the connection";
    EXPECT_EQ(line.rfind("job 2: platform Z, ", 0), 0u) << line;
    EXPECT_NE(line.find("invalid: offset "), std::string::npos) << line;
    EXPECT_TRUE(ends_with(line, cut_text)) << line;
    EXPECT_TRUE(same_bytes(kept(2), large.substr(0, small.size())));
    EXPECT_EQ(printer.wait_exit(), 0) << printer.log();
}

TEST_F(VirtualPrinter, AJobOverTheSizeLimitIsDrainedAndDropped)
{
    const std::string small = printer_stream(3, 1), large = printer_stream(3, 2);
    ASSERT_LT(small.size(), large.size());
    VirtualPrinterRun printer(with_output({"--jobs", "2", "--max-job-bytes", std::to_string(small.size())}));
    ASSERT_NE(printer.port(), 0) << printer.start_failure();

    PrinterConnection over(printer.port());
    // Sent twice: the whole of it is taken from the sender although nothing is kept.
    ASSERT_TRUE(over.send(large));
    ASSERT_TRUE(over.send(large));
    over.finish();
    EXPECT_EQ(printer.next_line(), "job 1: platform M, too large: over " + std::to_string(small.size()) + " bytes (" +
                                       std::to_string(2 * large.size()) + " bytes received), dropped");
    EXPECT_EQ(files(), std::vector<std::string>{});

    PrinterConnection fits(printer.port());
    ASSERT_TRUE(fits.send(small));
    fits.finish();
    EXPECT_EQ(printer.next_line(), valid_line(2, 3, 1));
    EXPECT_EQ(printer.wait_exit(), 0) << printer.log();
    EXPECT_TRUE(same_bytes(kept(2), small));
}

TEST_F(VirtualPrinter, ASlowPrinterStillTakesTheJobWhole)
{
    const std::string stream = printer_stream(1, 2);
    VirtualPrinterRun printer(with_output({"--jobs", "1", "--delay-ms", "20"}));
    ASSERT_NE(printer.port(), 0) << printer.start_failure();
    PrinterConnection job(printer.port());
    ASSERT_TRUE(job.send(stream));
    job.finish();
    EXPECT_EQ(printer.next_line(), valid_line(1, 1, 2));
    EXPECT_EQ(printer.wait_exit(), 0) << printer.log();
    EXPECT_TRUE(same_bytes(kept(1), stream));
}

// The printer has taken the first bytes of the job when its file has them.
bool wait_for_file(const std::string &path)
{
    for (int i = 0; i < 3000; ++i) {
        std::error_code ec;
        if (fs::file_size(path, ec) > 0 && !ec)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

TEST_F(VirtualPrinter, ASignalEndsItOnceTheJobUnderWayIsInAndASecondOneCutsIt)
{
    const std::string stream = printer_stream(2, 1);
    VirtualPrinterRun printer(with_output({}));
    ASSERT_NE(printer.port(), 0) << printer.start_failure();
    PrinterConnection idle(printer.port()), whole(printer.port()), cut(printer.port());
    ASSERT_TRUE(whole.send(stream.substr(0, 100)));
    ASSERT_TRUE(cut.send(stream.substr(0, 100)));
    ASSERT_TRUE(wait_for_file(out() + "/job-0002.prn") && wait_for_file(out() + "/job-0003.prn"));
    printer.signal(SIGTERM);
    ASSERT_TRUE(printer.wait_for_log("stopping once")) << printer.log();
    EXPECT_TRUE(stops_listening(printer.port())) << "new connections are still taken";
    // The connection that brought no job is closed, not waited for.
    EXPECT_TRUE(idle.ended_by_printer());
    ASSERT_TRUE(whole.send(stream.substr(100)));
    whole.finish();
    EXPECT_EQ(printer.next_line(), valid_line(2, 2, 1));
    EXPECT_TRUE(same_bytes(kept(2), stream));

    printer.signal(SIGINT);
    const std::string line = printer.next_line();
    EXPECT_EQ(line.rfind("job 3: platform Z, 0 pages, invalid: offset ", 0), 0u) << line;
    EXPECT_TRUE(ends_with(line, "; cut after 100 bytes: the printer was stopped")) << line;
    EXPECT_EQ(printer.wait_exit(), 0) << printer.log();
}

TEST_F(VirtualPrinter, WrongCommandLinesAndUnusableFoldersStopItAtOnce)
{
    for (const std::vector<std::string> &args :
         {std::vector<std::string>{"--jobs", "0"}, {"--max-job-bytes", "12X"}, {"--fail-after", "-1"},
          {"--delay-ms", "60001"}, {"--listen", "localhost"}, {"extra"}}) {
        VirtualPrinterRun printer(args);
        EXPECT_EQ(printer.port(), 0);
        EXPECT_EQ(printer.wait_exit(), 2) << args[0];
    }
    // A folder holding an earlier run's jobs would mix them with this run's.
    fs::create_directory(out());
    write_file(out() + "/job-0001.prn", "earlier");
    VirtualPrinterRun printer(with_output({}));
    EXPECT_EQ(printer.port(), 0);
    EXPECT_EQ(printer.wait_exit(), 2);
    EXPECT_NE(printer.log().find("already holds job-0001.prn"), std::string::npos) << printer.log();
    EXPECT_EQ(read_file(out() + "/job-0001.prn"), "earlier");
}

} // namespace
