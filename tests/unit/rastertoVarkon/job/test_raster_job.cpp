// SPDX-License-Identifier: GPL-2.0-or-later
// The raster job's interface and its page scheduling: calls out of turn are
// refused; a page parked while the next is read goes out with its own page
// number and sink state, so that helper threads change no byte, with copies
// and manual duplex too; pages cut short or refused end the job as the filter
// ends it.
#include "raster_job.h"

#include "platform.h"
#include "raster_writer.h"
#include "varkon_decode.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace varkon::test;
namespace decode = varkon::decode;

class StringSink : public varkon::PrinterSink {
public:
    size_t write(const unsigned char *data, size_t count) override
    {
        bytes.append(reinterpret_cast<const char *>(data), count);
        return count;
    }
    std::string bytes;
};

struct Outcome {
    int status = -1;
    std::string out;
    std::string log;
};

varkon::RasterJobParams params_for(const char *model, const std::string &options, unsigned threads = 1)
{
    varkon::RasterJobParams params;
    params.modelName = model;
    params.options = options;
    params.encoderThreads = threads;
    params.keepAlive = varkon::KeepAlive::None;
    params.manualDuplexWaitSeconds = 0;
    params.hostName = "test-host";
    return params;
}

LineFill stripes(unsigned page)
{
    return [page](unsigned y, unsigned char *line, unsigned bytes) {
        for (unsigned x = 0; x < bytes; ++x)
            if ((x / 17 + y / 13 + page) % 4 == 0)
                line[x] = static_cast<unsigned char>((x + y * page) % 200);
    };
}

// Each page's lines, `rows` of them where a page says so.
Outcome print(varkon::RasterJobParams params, const std::vector<RasterPage> &pages)
{
    Outcome outcome;
    std::ostringstream log;
    params.log = [&log](const char *line) { log << line; };
    StringSink sink;
    {
        varkon::RasterJob job(params, &sink);
        for (const RasterPage &page : pages) {
            if (!job.start_page(page.header))
                break;
            const unsigned rows = page.rows < 0 ? page.header.cupsHeight : static_cast<unsigned>(page.rows);
            for (unsigned y = 0; y < rows && job.wants_line(); ++y) {
                unsigned char *line = job.line_buffer();
                std::fill(line, line + page.header.cupsBytesPerLine, 255);
                page.fill(y, line, page.header.cupsBytesPerLine);
                job.write_line(line);
            }
            if (!job.end_page())
                break;
        }
        outcome.status = job.finish();
    }
    outcome.out = sink.bytes;
    outcome.log = log.str();
    return outcome;
}

std::vector<RasterPage> pages_of(std::vector<std::pair<unsigned, unsigned>> sizes, unsigned copies = 1)
{
    std::vector<RasterPage> pages;
    unsigned n = 0;
    for (auto [w, h] : sizes) {
        cups_page_header2_t header = gray_header(w, h);
        header.NumCopies = copies;
        pages.emplace_back(header, stripes(n++));
    }
    return pages;
}

decode::DecodedStream decoded(const std::string &out)
{
    return decode::decode_stream(reinterpret_cast<const unsigned char *>(out.data()), out.size());
}

TEST(RasterJobCalls, CallsOutOfTurnAreRefusedAndTheJobEndsOnce)
{
    StringSink sink;
    varkon::RasterJobParams params = params_for("Varkon Oskel 301 Series", "");
    params.log = [](const char *) {};
    varkon::RasterJob job(params, &sink);
    const unsigned char line[4] = {};
    EXPECT_FALSE(job.write_line(line)) << "no page started";
    EXPECT_FALSE(job.wants_line());
    EXPECT_EQ(job.line_buffer(), nullptr);
    EXPECT_TRUE(job.end_page()) << "no page to end, the job goes on";
    const cups_page_header2_t header = gray_header(298, 420);
    ASSERT_TRUE(job.start_page(header));
    EXPECT_EQ(job.page(), 1);
    EXPECT_TRUE(job.wants_line());
    EXPECT_NE(job.line_buffer(), nullptr);
    // The page is ended white by finish(), which ends the job once.
    EXPECT_EQ(job.finish(), 1) << "a page given no line does not pass as printed";
    EXPECT_FALSE(job.start_page(header));
    EXPECT_EQ(job.finish(), 1);
    const decode::DecodedStream s = decoded(sink.bytes);
    EXPECT_TRUE(s.valid() && s.job_ended);
    ASSERT_EQ(s.pages.size(), 1u);
    EXPECT_EQ(s.pages[0].ink, 0u);
}

// With helper threads a page waits, compressed alongside, while the next is
// read; it must still go out with its own page number and, in manual duplex,
// to the printer or to the even-page spool as its own number says.
TEST(RasterJobPages, ParkedPagesGiveTheBytesOfOneThread)
{
    struct Case {
        const char *name;
        const char *model;
        std::string options;
        std::vector<RasterPage> pages;
    };
    const std::vector<std::pair<unsigned, unsigned>> mixed = {{298, 420}, {420, 595}, {298, 420}, {298, 420}, {420, 595}};
    const Case cases[] = {
        {"C, mixed sizes", "Varkon Belvar 210 Series", "", pages_of(mixed)},
        {"Z, mixed sizes, A5 fed long edge", "Varkon Oskel 301 Series", "FeedLongEdge=True", pages_of(mixed)},
        {"M, mixed sizes", "Varkon Nimbrel 41 Series", "", pages_of(mixed)},
        {"C, manual duplex", "Varkon Belvar 210 Series", "ManualDuplex=True", pages_of(mixed)},
        {"M, manual duplex with collated copies", "Varkon Nimbrel 41 Series", "ManualDuplex=True Collate=True",
         pages_of(mixed, 2)},
        {"Z, collated copies", "Varkon Oskel 301 Series", "Collate=True", pages_of(mixed, 3)},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome one = print(params_for(c.model, c.options, 1), c.pages);
        const Outcome four = print(params_for(c.model, c.options, 4), c.pages);
        EXPECT_EQ(one.status, 0) << one.log;
        EXPECT_EQ(four.status, 0) << four.log;
        EXPECT_TRUE(one.out == four.out) << one.out.size() << " bytes on one thread, " << four.out.size() << " on four";
        const decode::DecodedStream s = decoded(four.out);
        EXPECT_TRUE(s.valid()) << decode::format_violation(*s.violation);
        EXPECT_TRUE(s.job_ended);
        std::vector<int> numbers;
        for (const decode::Page &page : s.pages)
            if (page.pass == 1 && page.copy == 1)
                numbers.push_back(page.number);
        EXPECT_FALSE(numbers.empty());
    }
}

TEST(RasterJobPages, APageCutShortIsPrintedWhiteBelowAndFailsTheJob)
{
    std::vector<RasterPage> pages = pages_of({{298, 420}, {298, 420}});
    pages[1].rows = 1000;
    const Outcome cut = print(params_for("Varkon Oskel 301 Series", ""), pages);
    EXPECT_EQ(cut.status, 1);
    EXPECT_NE(cut.log.find("ERROR: The raster data of page 2 end after 1000 of its 3500 lines; the rest of the page "
                           "is left blank.\n"),
              std::string::npos)
        << cut.log;
    EXPECT_EQ(cut.log.find("INFO: Ready to print."), std::string::npos);
    const decode::DecodedStream s = decoded(cut.out);
    ASSERT_EQ(s.pages.size(), 2u);
    EXPECT_TRUE(s.job_ended);
    const decode::Page &page = s.pages[1];
    uint64_t inkBelow = 0;
    for (uint32_t y = page.height * 2 / 3; y < page.height; ++y)
        for (uint32_t x = 0; x < page.width; ++x)
            inkBelow += page.level(x, y);
    EXPECT_EQ(inkBelow, 0u);
}

TEST(RasterJobPages, ARefusedPageEndsTheJobAfterThePagesBefore)
{
    std::vector<RasterPage> pages = pages_of({{298, 420}, {298, 420}, {298, 420}});
    pages[1].header.cupsColorSpace = CUPS_CSPACE_K;
    const Outcome refused = print(params_for("Varkon Nimbrel 41 Series", ""), pages);
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.log.find("ERROR: The page is not 8-bit grayscale raster and cannot be printed.\n"),
              std::string::npos);
    const decode::DecodedStream s = decoded(refused.out);
    EXPECT_TRUE(s.valid() && s.job_ended);
    EXPECT_EQ(s.pages.size(), 1u);

    // Refused as the first page: nothing reaches the printer.
    const Outcome first = print(params_for("Varkon Nimbrel 41 Series", ""), {pages[1]});
    EXPECT_EQ(first.status, 1);
    EXPECT_EQ(first.out, "");
    // A model no table knows and no platform text: nothing either.
    const Outcome unknown = print(params_for("Varkon Unknown Printer", ""), {pages[0]});
    EXPECT_EQ(unknown.status, 1);
    EXPECT_EQ(unknown.out, "");
    varkon::RasterJobParams byText = params_for("Varkon Unknown Printer", "");
    byText.platformText = "PLATFORM_Z";
    EXPECT_EQ(print(byText, {pages[0]}).status, 0);
}

TEST(RasterJobPages, TheJobsCopiesAndCollationOverrideThePageHeaders)
{
    const std::vector<RasterPage> pages = pages_of({{298, 420}, {298, 420}});
    varkon::RasterJobParams params = params_for("Varkon Oskel 301 Series", "");
    params.copies = 3;
    params.collate = true;
    const Outcome overridden = print(params, pages);
    const Outcome asked = print(params_for("Varkon Oskel 301 Series", "Collate=True"), pages_of({{298, 420}, {298, 420}}, 3));
    EXPECT_EQ(overridden.status, 0);
    EXPECT_TRUE(overridden.out == asked.out);
    EXPECT_EQ(decoded(overridden.out).copies, 3);
}

} // namespace
