// SPDX-License-Identifier: GPL-2.0-or-later
// End to end through the real CUPS: a PDF made here goes through lp, the
// scheduler's filter chain (pdftopdf, the imaging filter, rastertoVarkon) and
// the varkontest backend; the printer stream is decoded with the project's
// decoder and compared with what the document put on its pages.
#include "cupsd_harness.h"
#include "model_table.h"
#include "paper_tables.h"
#include "ppd_closer.h"
#include "run_process.h"
#include "varkon_decode.h"

#include <cups/ppd.h>

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace varkon::test;
namespace decode = varkon::decode;

// A black rectangle in PostScript points, from the bottom left of the page.
struct Rect {
    double x, y, w, h;
};

// Inclusive pixel bounds of the ink on a printed image.
struct Box {
    long left = -1, top = -1, right = -1, bottom = -1;
};

std::ostream &operator<<(std::ostream &out, const Box &b)
{
    return out << "[" << b.left << "," << b.top << " - " << b.right << "," << b.bottom << "]";
}

// A PDF of `pages`, one black rectangle each (or none), on a page of w x h points.
std::string make_pdf(const TempDir &dir, const std::vector<std::vector<Rect>> &pages, int w = 595, int h = 842)
{
    std::string ps = "%!PS\n<< /PageSize [" + std::to_string(w) + " " + std::to_string(h) + "] >> setpagedevice\n";
    for (const auto &page : pages) {
        for (const Rect &r : page)
            ps += "0 setgray " + std::to_string(r.x) + " " + std::to_string(r.y) + " " + std::to_string(r.w) + " " +
                  std::to_string(r.h) + " rectfill\n";
        ps += "showpage\n";
    }
    write_file(dir.file("doc.ps"), ps);
    const ProcessResult r = run_process({"/usr/bin/ps2pdf", dir.file("doc.ps"), dir.file("doc.pdf")});
    if (r.exit_code != 0)
        throw std::runtime_error("ps2pdf failed: " + r.err);
    return dir.file("doc.pdf");
}

Box ink_box(const decode::Page &page)
{
    Box box;
    for (uint32_t y = 0; y < page.height; ++y) {
        const unsigned char *row = page.pixels.data() + y * page.stride;
        for (size_t byte = 0; byte < page.stride; ++byte) {
            if (row[byte] == 0)
                continue;
            for (uint32_t x = static_cast<uint32_t>(byte * 8 / page.bits_per_pixel);
                 x < page.width && x < (byte + 1) * 8 / page.bits_per_pixel; ++x) {
                if (page.level(x, y) == 0)
                    continue;
                if (box.left < 0 || x < box.left)
                    box.left = x;
                if (x > box.right)
                    box.right = x;
                if (box.top < 0)
                    box.top = y;
                box.bottom = y;
            }
        }
    }
    return box;
}

// Where the filter puts a rectangle: the raster starts at the imageable area's
// top left corner, wider lines are centred on the device image of W pixels.
Box expected_box(ppd_size_t *size, const Rect &r, long W, int dpi)
{
    const double k = dpi / 72.0;
    const long raster_w = std::lround((size->right - size->left) * k);
    const long shift = (raster_w - W) / 2;
    Box b;
    b.left = std::lround((r.x - size->left) * k) - shift;
    b.right = std::lround((r.x + r.w - size->left) * k) - shift - 1;
    b.top = std::lround((size->top - (r.y + r.h)) * k);
    b.bottom = std::lround((size->top - r.y) * k) - 1;
    return b;
}

Box turned(const Box &b, long W, long H) { return {W - 1 - b.right, H - 1 - b.bottom, W - 1 - b.left, H - 1 - b.top}; }

// Off by a few pixels at most: PDF rendering and the quarter-point margins round.
void expect_near(const Box &got, const Box &want, const std::string &what)
{
    constexpr long kSlack = 2;
    EXPECT_TRUE(std::labs(got.left - want.left) <= kSlack && std::labs(got.right - want.right) <= kSlack &&
                std::labs(got.top - want.top) <= kSlack && std::labs(got.bottom - want.bottom) <= kSlack)
        << what << ": ink at " << got << ", expected " << want;
}

const PAPER_SIZE_INFO *paper_row(const std::string &model, const char *name)
{
    int platform = 0;
    for (const PAPER_SIZE_INFO *row = GetPaperSizeArray(model.c_str(), &platform); row && row->cupsPaperW != -1;
         ++row)
        if (std::string(row->strPageSize) == name)
            return row;
    return nullptr;
}

class CupsPrint : public ::testing::Test {
protected:
    // Prints the file on a fresh queue for the model and decodes what reached the backend.
    decode::DecodedStream print(const std::string &model, const std::string &file,
                                const std::vector<std::string> &options = {}, std::vector<std::string> lp_args = {})
    {
        const std::string queue = "q" + std::to_string(++queues_);
        const ProcessResult added = cupsd_.add_queue(queue, varkontest_uri(out_.path() + "/"), varkon_ppd_name(model));
        EXPECT_EQ(added.exit_code, 0) << added.err;
        std::vector<std::string> argv = {"lp", "-d", queue};
        for (const auto &option : options) {
            argv.push_back("-o");
            argv.push_back(option);
        }
        argv.insert(argv.end(), lp_args.begin(), lp_args.end());
        argv.push_back(file);
        const ProcessResult submitted = cupsd_.run(argv);
        const size_t at = submitted.out.find("request id is " + queue + "-");
        if (at == std::string::npos) {
            ADD_FAILURE() << "lp failed: " << submitted.out << submitted.err;
            return {};
        }
        job_ = std::stoi(submitted.out.substr(at + 15 + queue.size()));
        const JobOutcome outcome = cupsd_.wait_for_job(job_, 180000);
        EXPECT_TRUE(outcome.completed()) << outcome.state << " (" << outcome.reasons << ")\n" << cupsd_.job_log(job_);
        // No filter of the chain complains about the PPD or the job.
        const std::string log = "\n" + cupsd_.job_log(job_);
        for (const char *level : {"\nE [", "\nW ["})
            EXPECT_EQ(log.find(level), std::string::npos) << log;
        const std::string data = read_file(out_.file("job-" + std::to_string(job_) + ".prn"));
        const decode::DecodedStream stream =
            decode::decode_stream(reinterpret_cast<const unsigned char *>(data.data()), data.size());
        EXPECT_TRUE(stream.valid()) << decode::format_violation(*stream.violation) << "\n" << cupsd_.job_log(job_);
        EXPECT_TRUE(stream.job_started && stream.job_ended) << decode::format_summary(stream);
        return stream;
    }

    ppd_size_t *ppd_size(const std::string &model, const char *name)
    {
        ppd_.reset(ppdOpenFile(varkon_ppd_path(model).c_str()));
        return ppd_ ? ppdPageSize(ppd_.get(), name) : nullptr;
    }

    CupsdHarness cupsd_;
    TempDir docs_, out_;
    int queues_ = 0;
    int job_ = 0;
    varkon::PpdFile ppd_;
};

const Rect kUpperLeft{100, 600, 200, 100};
const Rect kLowerRight{300, 100, 100, 50};

// One model of each paper table: the PDF's pages come out on the printer's
// A4 image with their ink where the document put it.
class CupsPrintEveryTable : public CupsPrint, public ::testing::WithParamInterface<const char *> {};

TEST_P(CupsPrintEveryTable, PagesLandWhereTheDocumentPutsThem)
{
    const std::string model = GetParam();
    const decode::DecodedStream stream = print(model, make_pdf(docs_, {{kUpperLeft}, {kLowerRight}}));
    const PAPER_SIZE_INFO *a4 = paper_row(model, "A4");
    ppd_size_t *size = ppd_size(model, "A4");
    ASSERT_TRUE(a4 && size);
    ASSERT_EQ(stream.pages.size(), 2u) << decode::format_summary(stream);
    const decode::Page &first = stream.pages[0], &second = stream.pages[1];
    EXPECT_EQ(first.width, static_cast<uint32_t>(a4->fwPaperW));
    EXPECT_EQ(first.height, static_cast<uint32_t>(a4->fwPaperH));
    EXPECT_EQ(first.paper_code, a4->fwPaperNum);
    EXPECT_EQ(first.bits_per_pixel, 1);
    expect_near(ink_box(first), expected_box(size, kUpperLeft, a4->fwPaperW, 600), "page 1");
    expect_near(ink_box(second), expected_box(size, kLowerRight, a4->fwPaperW, 600), "page 2");
}

INSTANTIATE_TEST_SUITE_P(Tables, CupsPrintEveryTable,
                         ::testing::Values("Varkon Belvar 210 Series", "Varkon Belvar 230m Series",
                                           "Varkon Oskel 301d Series", "Varkon Nimbrel 41d Series"),
                         [](const ::testing::TestParamInfo<const char *> &info) {
                             std::string name;
                             for (const char *c = info.param; *c; ++c)
                                 if (std::isalnum(static_cast<unsigned char>(*c)))
                                     name += *c;
                             return name;
                         });

// Long-edge duplex on a duplexer: the back sides are turned, and an odd page
// count gets a blank last side.
TEST_F(CupsPrint, LongEdgeDuplexTurnsTheBackSides)
{
    const std::string model = "Varkon Oskel 301d Series";
    const decode::DecodedStream stream =
        print(model, make_pdf(docs_, {{kUpperLeft}, {kUpperLeft}, {kUpperLeft}}), {"Duplex=DuplexNoTumble"});
    const PAPER_SIZE_INFO *a4 = paper_row(model, "A4");
    const Box front = expected_box(ppd_size(model, "A4"), kUpperLeft, a4->fwPaperW, 600);
    ASSERT_EQ(stream.pages.size(), 4u) << decode::format_summary(stream);
    expect_near(ink_box(stream.pages[0]), front, "page 1");
    expect_near(ink_box(stream.pages[1]), turned(front, a4->fwPaperW, a4->fwPaperH), "page 2");
    expect_near(ink_box(stream.pages[2]), front, "page 3");
    EXPECT_EQ(stream.pages[3].ink, 0u);
}

// A platform-Z model without a duplexer prints a Duplex request by hand: odd
// pages, the turn-the-stack message, then the even sides.
TEST_F(CupsPrint, DuplexWithoutDuplexerIsManualOnPlatformZ)
{
    const decode::DecodedStream stream = print("Varkon Oskel 301 Series",
                                               make_pdf(docs_, {{kUpperLeft}, {kLowerRight}, {kUpperLeft}}),
                                               {"Duplex=DuplexNoTumble"});
    ASSERT_TRUE(stream.manual_duplex_at.has_value()) << decode::format_summary(stream);
    std::vector<std::pair<int, int>> order; // (pass, page number)
    for (const auto &page : stream.pages)
        order.emplace_back(page.pass, page.number);
    EXPECT_EQ(order, (std::vector<std::pair<int, int>>{{1, 1}, {1, 3}, {2, 4}, {2, 2}}));
    EXPECT_EQ(stream.pages[2].ink, 0u);
    EXPECT_GT(stream.pages[3].ink, 0u);
    EXPECT_NE(cupsd_.job_log(job_).find("Turn the printed stack over and load it into the tray"), std::string::npos)
        << cupsd_.job_log(job_);
}

// Copies reach the filter, which collates them itself or lets the printer
// repeat each page.
TEST_F(CupsPrint, CopiesCollatedByTheFilterOrRepeatedByThePrinter)
{
    const std::string pdf = make_pdf(docs_, {{kUpperLeft}, {kLowerRight}});
    const decode::DecodedStream collated = print("Varkon Belvar 210d Series", pdf, {"Collate=True"}, {"-n", "3"});
    EXPECT_EQ(collated.copies, 3) << decode::format_summary(collated);
    EXPECT_EQ(collated.pages.size(), 6u);

    const decode::DecodedStream repeated = print("Varkon Belvar 210d Series", pdf, {}, {"-n", "3"});
    ASSERT_EQ(repeated.pages.size(), 2u) << decode::format_summary(repeated);
    EXPECT_EQ(repeated.pages[0].copies, 3);
}

// Job options go from lp through the scheduler to the printer's frames.
TEST_F(CupsPrint, OptionsReachThePrinter)
{
    const std::string model = "Varkon Nimbrel 41 Series";
    const decode::DecodedStream stream = print(model, make_pdf(docs_, {{kUpperLeft}}, 612, 792),
                                               {"PageSize=Letter", "InputSlot=ManualFeed", "Density=4"});
    const PAPER_SIZE_INFO *letter = paper_row(model, "Letter");
    ASSERT_EQ(stream.pages.size(), 1u) << decode::format_summary(stream);
    EXPECT_EQ(stream.pages[0].width, static_cast<uint32_t>(letter->fwPaperW));
    EXPECT_EQ(stream.pages[0].height, static_cast<uint32_t>(letter->fwPaperH));
    EXPECT_EQ(stream.pages[0].paper_code, letter->fwPaperNum);
    EXPECT_EQ(stream.pages[0].tray, 1);
    EXPECT_EQ(stream.pages[0].density, 4);
}

// Platform C's 1200 dpi switch: a 1200 dpi raster, a device image twice as
// wide and high, the ink still where the document put it.
TEST_F(CupsPrint, Platform1200DpiDoublesTheImageOnPlatformC)
{
    const std::string model = "Varkon Belvar 210 Series";
    const decode::DecodedStream stream = print(model, make_pdf(docs_, {{kUpperLeft}}), {"DPI1200=True"});
    const PAPER_SIZE_INFO *a4 = paper_row(model, "A4");
    ASSERT_EQ(stream.pages.size(), 1u) << decode::format_summary(stream);
    EXPECT_EQ(stream.pages[0].width, 2u * a4->fwPaperW);
    EXPECT_EQ(stream.pages[0].height, 2u * a4->fwPaperH);
    expect_near(ink_box(stream.pages[0]), expected_box(ppd_size(model, "A4"), kUpperLeft, 2 * a4->fwPaperW, 1200),
                "1200 dpi page");
}

TEST_F(CupsPrint, Platform1200DpiQualitySendsTwoBitsOnPlatformM)
{
    const std::string model = "Varkon Sarvel 51 Series";
    const decode::DecodedStream stream = print(model, make_pdf(docs_, {{kUpperLeft}}), {"DPI1200=True"});
    ASSERT_EQ(stream.pages.size(), 1u) << decode::format_summary(stream);
    EXPECT_EQ(stream.pages[0].bits_per_pixel, 2);
    const PAPER_SIZE_INFO *a4 = paper_row(model, "A4");
    expect_near(ink_box(stream.pages[0]), expected_box(ppd_size(model, "A4"), kUpperLeft, a4->fwPaperW, 600),
                "two-bit page");
}

} // namespace
