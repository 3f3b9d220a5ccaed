// SPDX-License-Identifier: GPL-2.0-or-later
// The raster core as a library against the filter: the same pages pushed
// through RasterJob and read by the real rastertoVarkon give the same printer
// stream, byte for byte, and the same messages; two jobs of different
// platforms at once in one process each give the stream of their single run;
// a job run without signals keeps its printer awake from a thread of its own
// and stops on a call, as the filter stops on SIGTERM.
#include "filter_job.h"
#include "raster_job.h"
#include "raster_outcome.h"

#include "platform.h"
#include "varkon_decode.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace varkon::test;
namespace decode = varkon::decode;

// The printer stream in memory; refuses everything after `limit` bytes.
class MemorySink : public varkon::PrinterSink {
public:
    size_t write(const unsigned char *data, size_t count) override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        bytes_.append(reinterpret_cast<const char *>(data), count);
        ++writes_;
        return count;
    }
    std::string bytes() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return bytes_;
    }

private:
    mutable std::mutex mutex_;
    std::string bytes_;
    int writes_ = 0;
};

struct LibraryRun {
    int status = -1;
    std::string out;
    std::string log;
};

varkon::RasterJobParams library_params(int platform, const std::string &options)
{
    varkon::RasterJobParams params;
    params.modelName = platform_ppd(platform).modelName;
    params.jobId = "42";
    params.user = "user";
    params.title = "Test job";
    params.options = options;
    params.keepAlive = varkon::KeepAlive::None;
    return params;
}

// Pushes the pages into a job of the library the way a server would: each
// header, then its lines (fewer for a page cut short).
LibraryRun run_library(varkon::RasterJobParams params, const std::vector<RasterPage> &pages)
{
    LibraryRun run;
    std::ostringstream log;
    params.log = [&log](const char *line) { log << line; };
    MemorySink sink;
    {
        varkon::RasterJob job(params, &sink);
        for (const RasterPage &page : pages) {
            if (!job.start_page(page.header))
                break;
            const unsigned bpl = page.header.cupsBytesPerLine;
            const unsigned rows = page.rows < 0 ? page.header.cupsHeight : static_cast<unsigned>(page.rows);
            std::vector<unsigned char> line(bpl);
            for (unsigned y = 0; y < rows && job.wants_line(); ++y) {
                std::fill(line.begin(), line.end(), 255);
                if (page.fill)
                    page.fill(y, line.data(), bpl);
                job.write_line(line.data());
            }
            if (!job.end_page())
                break;
        }
        run.status = job.finish();
    }
    run.out = sink.bytes();
    run.log = log.str();
    return run;
}

// The raster stream as libcups reads it, pushed into a job the way a server
// hands its pages over: the same input the filter reads.
LibraryRun run_library_on_raster(varkon::RasterJobParams params, const std::string &raster)
{
    struct Reader {
        const std::string &data;
        size_t at = 0;
        static ssize_t read(void *context, unsigned char *buffer, size_t length)
        {
            auto *reader = static_cast<Reader *>(context);
            const size_t n = std::min(length, reader->data.size() - reader->at);
            std::memcpy(buffer, reader->data.data() + reader->at, n);
            reader->at += n;
            return static_cast<ssize_t>(n);
        }
    } reader{raster};
    LibraryRun run;
    std::ostringstream log;
    params.log = [&log](const char *line) { log << line; };
    MemorySink sink;
    cups_raster_t *ras = cupsRasterOpenIO(Reader::read, &reader, CUPS_RASTER_READ);
    {
        varkon::RasterJob job(params, &sink);
        cups_page_header2_t header;
        while (cupsRasterReadHeader2(ras, &header) != 0 && job.start_page(header)) {
            while (job.wants_line() &&
                   cupsRasterReadPixels(ras, job.line_buffer(), header.cupsBytesPerLine) == header.cupsBytesPerLine)
                job.write_line(job.line_buffer());
            if (!job.end_page())
                break;
        }
        run.status = job.finish();
    }
    cupsRasterClose(ras);
    run.out = sink.bytes();
    run.log = log.str();
    return run;
}

// The items that carry the wall clock: the C system date and the Z job time
// (which the decoder lists as one of its PJL lines).
bool is_clock(const decode::Item &item)
{
    if (item.name == "system date")
        return true;
    const decode::Field *line = item.name == "PJL" ? item.field("line") : nullptr;
    return line != nullptr && line->text.rfind("@PJL JOBTIME=", 0) == 0;
}

// The stream without its clock, so that runs a minute apart compare equal.
std::string without_clock(std::string stream)
{
    const decode::DecodedStream decoded =
        decode::decode_stream(reinterpret_cast<const unsigned char *>(stream.data()), stream.size());
    for (const decode::Item &item : decoded.items)
        if (is_clock(item))
            stream.replace(item.offset, item.length, item.length, '#');
    return stream;
}

// Where two streams part: the first decoded item that differs, for a failure
// message that says more than "false".
std::string first_difference(const std::string &a, const std::string &b)
{
    const auto items = [](const std::string &stream) {
        std::vector<std::string> shown;
        const decode::DecodedStream decoded =
            decode::decode_stream(reinterpret_cast<const unsigned char *>(stream.data()), stream.size());
        for (const decode::Item &item : decoded.items)
            shown.push_back("at " + std::to_string(item.offset) + ": " + decode::format_item(item));
        return shown;
    };
    const std::vector<std::string> left = items(a), right = items(b);
    for (size_t n = 0; n < std::max(left.size(), right.size()); ++n) {
        const std::string l = n < left.size() ? left[n] : "(end)";
        const std::string r = n < right.size() ? right[n] : "(end)";
        if (l != r)
            return "item " + std::to_string(n) + " differs:\n  " + l + "\n  " + r;
    }
    return std::to_string(a.size()) + " and " + std::to_string(b.size()) + " bytes, the same items";
}

// The lines CUPS acts on or shows, which the library and the filter both write;
// the filter's own lines about the raster it reads are left out.
std::string shown_lines(const std::string &log)
{
    std::istringstream lines(log);
    std::string shown;
    for (std::string line; std::getline(lines, line);)
        for (const char *prefix : {"INFO:", "ERROR:", "PAGE:", "WARNING:"})
            if (line.rfind(prefix, 0) == 0)
                shown += line + "\n";
    return shown;
}

LineFill page_fill(unsigned page)
{
    return [page](unsigned y, unsigned char *line, unsigned bytes) {
        for (unsigned x = 0; x < bytes; ++x)
            if ((x / 37 + y / 29 + page) % 7 == 0 || (y > 600 && y < 900))
                line[x] = static_cast<unsigned char>((x * 3 + y + 50 * page) % 256);
    };
}

std::vector<RasterPage> pages_of(unsigned count, unsigned widthPt = 298, unsigned heightPt = 420,
                                 unsigned copies = 1, bool duplex = false, unsigned dpi = 600)
{
    std::vector<RasterPage> pages;
    for (unsigned n = 0; n < count; ++n) {
        cups_page_header2_t header = gray_header(widthPt, heightPt, dpi);
        header.NumCopies = copies;
        header.Duplex = duplex ? CUPS_TRUE : CUPS_FALSE;
        pages.emplace_back(header, page_fill(n));
    }
    return pages;
}

struct SameJob {
    const char *name;
    int platform;
    std::string options;
    std::vector<RasterPage> pages;
};

std::vector<SameJob> same_jobs()
{
    std::vector<RasterPage> cut = pages_of(2);
    cut.back().rows = 500;
    return {
        {"C, two pages", PLATFORM_C, "", pages_of(2)},
        {"Z, three pages with density and toner saving", PLATFORM_Z, "Density=4 TonerMode=True", pages_of(3)},
        {"M, three pages", PLATFORM_M, "", pages_of(3)},
        {"C, duplex with its blank back side", PLATFORM_C, "", pages_of(3, 298, 420, 1, true)},
        {"Z, collated copies", PLATFORM_Z, "Collate=True", pages_of(3, 298, 420, 2)},
        {"M, collated copies at 1200 dpi", PLATFORM_M, "Collate=True DPI1200=True", pages_of(2, 298, 420, 2, false, 1200)},
        {"Z, A5 fed long edge", PLATFORM_Z, "FeedLongEdge=True", pages_of(2, 420, 595)},
        {"C, a page cut short", PLATFORM_C, "", cut},
    };
}

TEST(RasterLibrary, TheSamePagesGiveTheFiltersStreamAndMessages)
{
    for (const SameJob &c : same_jobs()) {
        SCOPED_TRACE(c.name);
        FilterJob filter(platform_ppd(c.platform));
        filter.options = c.options;
        const ProcessResult byFilter = filter.run_stdin(make_raster(c.pages));
        const LibraryRun byLibrary = run_library_on_raster(library_params(c.platform, c.options), make_raster(c.pages));
        EXPECT_EQ(byLibrary.status, byFilter.exit_code) << byLibrary.log;
        ASSERT_FALSE(byFilter.out.empty());
        EXPECT_TRUE(without_clock(byLibrary.out) == without_clock(byFilter.out))
            << byLibrary.out.size() << " bytes from the library, " << byFilter.out.size() << " from the filter";
        EXPECT_EQ(shown_lines(byLibrary.log), shown_lines(byFilter.err));
        EXPECT_TRUE(decode_quickly(byLibrary.out).job_ended);
    }
}

TEST(RasterLibrary, TwoJobsOfDifferentPlatformsAtOnceEachGiveTheirOwnStream)
{
    struct Job {
        int platform;
        std::string options;
        std::vector<RasterPage> pages;
        LibraryRun single;
        LibraryRun together;
    };
    std::vector<Job> jobs = {{PLATFORM_C, "Collate=True", pages_of(3, 298, 420, 2), {}, {}},
                             {PLATFORM_M, "Density=4", pages_of(4, 298, 420, 1, true), {}, {}},
                             {PLATFORM_Z, "", pages_of(3), {}, {}}};
    for (Job &job : jobs) {
        job.single = run_library(library_params(job.platform, job.options), job.pages);
        // A clock left in would make the comparison below pass only within one minute.
        EXPECT_EQ(without_clock(job.single.out).find("JOBTIME"), std::string::npos);
    }
    for (int round = 0; round < 2; ++round) {
        std::vector<std::thread> threads;
        for (Job &job : jobs)
            threads.emplace_back([&job] {
                varkon::RasterJobParams params = library_params(job.platform, job.options);
                params.encoderThreads = 2;
                job.together = run_library(params, job.pages);
            });
        for (std::thread &thread : threads)
            thread.join();
        for (const Job &job : jobs) {
            SCOPED_TRACE(job.platform);
            EXPECT_EQ(job.together.status, 0) << job.together.log;
            EXPECT_TRUE(without_clock(job.together.out) == without_clock(job.single.out))
                << first_difference(job.together.out, job.single.out);
            EXPECT_EQ(shown_lines(job.together.log), shown_lines(job.single.log));
        }
    }
}

// The stream's items other than the runs of zero pairs between them, with their fields.
std::vector<std::string> frames_of(const decode::DecodedStream &stream)
{
    std::vector<std::string> frames;
    for (const decode::Item &item : stream.items)
        if (item.name.find("00 00") == std::string::npos && !is_clock(item))
            frames.push_back(decode::format_item(item));
    return frames;
}

// A sink that takes its time, so that the job is still sending when the
// keep-alive is due.
class SlowSink : public MemorySink {
public:
    size_t write(const unsigned char *data, size_t count) override
    {
        std::this_thread::sleep_for(std::chrono::microseconds(200));
        return MemorySink::write(data, count);
    }
};

TEST(RasterLibrary, TheKeepAliveThreadSendsZerosOnlyBetweenCommandSequences)
{
    for (int platform : {PLATFORM_C, PLATFORM_Z}) {
        SCOPED_TRACE(platform);
        varkon::RasterJobParams params = library_params(platform, "");
        params.keepAlive = varkon::KeepAlive::Thread;
        params.keepAlivePeriod = std::chrono::milliseconds(1);
        params.log = [](const char *) {};
        SlowSink sink;
        int status = -1;
        {
            varkon::RasterJob job(params, &sink);
            for (const RasterPage &page : pages_of(2)) {
                ASSERT_TRUE(job.start_page(page.header));
                std::vector<unsigned char> line(page.header.cupsBytesPerLine);
                for (unsigned y = 0; job.wants_line(); ++y) {
                    std::fill(line.begin(), line.end(), 255);
                    page.fill(y, line.data(), page.header.cupsBytesPerLine);
                    job.write_line(line.data());
                }
                ASSERT_TRUE(job.end_page());
                // Time between pages, as a client that sends slowly leaves it.
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
            status = job.finish();
        }
        EXPECT_EQ(status, 0);
        const std::string out = sink.bytes();
        const decode::DecodedStream decoded =
            decode::decode_stream(reinterpret_cast<const unsigned char *>(out.data()), out.size());
        EXPECT_TRUE(decoded.valid()) << decode::format_violation(*decoded.violation);
        // The same pages and frames as without a keep-alive, and more zero pairs between them.
        const LibraryRun quiet = run_library(library_params(platform, ""), pages_of(2));
        const decode::DecodedStream alone = decode::decode_stream(
            reinterpret_cast<const unsigned char *>(quiet.out.data()), quiet.out.size());
        ASSERT_EQ(decoded.pages.size(), 2u);
        for (size_t n = 0; n < 2; ++n)
            EXPECT_TRUE(decoded.pages[n].pixels == alone.pages[n].pixels);
        EXPECT_EQ(frames_of(decoded), frames_of(alone));
        EXPECT_GT(out.size(), quiet.out.size()) << "no keep-alive was sent";
    }
}

TEST(RasterLibrary, ACancelCallEndsTheJobAfterThePageUnderWay)
{
    for (int platform : {PLATFORM_C, PLATFORM_Z, PLATFORM_M}) {
        SCOPED_TRACE(platform);
        MemorySink sink;
        int status = -1;
        {
            varkon::RasterJob job(library_params(platform, ""), &sink);
            const std::vector<RasterPage> pages = pages_of(4);
            for (size_t n = 0; n < pages.size(); ++n) {
                if (!job.start_page(pages[n].header))
                    break;
                std::vector<unsigned char> line(pages[n].header.cupsBytesPerLine, 255);
                for (unsigned y = 0; job.wants_line(); ++y) {
                    // Another thread cancels in the middle of the second page.
                    if (n == 1 && y == 300)
                        std::thread([&job] { job.cancel(); }).join();
                    job.write_line(line.data());
                }
                if (!job.end_page())
                    break;
            }
            status = job.finish();
        }
        // C and Z end the job after the page cut by the cancellation; M stops
        // inside it without a job end, as the filter does on SIGTERM.
        EXPECT_TRUE(stream_complete(sink.bytes(), {-1, true, platform == PLATFORM_M}));
        const decode::DecodedStream decoded = decode_quickly(sink.bytes());
        EXPECT_EQ(decoded.job_ended, platform != PLATFORM_M);
        EXPECT_EQ(decoded.pages.size(), platform == PLATFORM_M ? 1u : 2u);
        EXPECT_EQ(status, 0);
    }
}

} // namespace
