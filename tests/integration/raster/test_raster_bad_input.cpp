// SPDX-License-Identifier: GPL-2.0-or-later
// rastertoVarkon on bad input through the real binary: every page header field
// at 0, 1, its largest accepted value, just beyond it and 2^32 - 1; rasters cut
// inside a header or a page, or followed by junk; page sizes that change from
// page to page; jobs of 0, 1 and 2000 pages; hostile job texts. Each case ends
// with "nothing lost" (raster_outcome.h) and an empty TMPDIR.
#include "raster_fault_run.h"
#include "build_kind.h"
#include "filter_job.h"
#include "raster_outcome.h"
#include "raw_raster.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <vector>

namespace {

using namespace varkon::test;
namespace decode = varkon::decode;

constexpr unsigned kHuge = 0xFFFFFFFFu;
const float kNaN = std::numeric_limits<float>::quiet_NaN();
const float kInf = std::numeric_limits<float>::infinity();

// A refused page is not read: the rest of the raster meets a closed pipe.
[[maybe_unused]] const bool kPipeIgnored = signal(SIGPIPE, SIG_IGN) != SIG_ERR;

// One square inch at 600 dpi: 600 x 600 raster, a computed 608 x 600 device image.
cups_page_header2_t inch_header() { return gray_header(72, 72); }

RasterPage page_of(const cups_page_header2_t &h, LineFill fill = fill_rect(100, 100, 300, 300))
{
    // Pages refused for their size are not read: their rows are left out.
    const bool small = h.cupsBytesPerLine <= 65537 && h.cupsHeight <= 131073;
    return RasterPage(h, std::move(fill), small ? -1 : 0);
}

// What a failed check shows of a run: the log's start and its end, where the
// job's last words are, and how far the printer stream decodes.
std::string excerpt(const ProcessResult &r)
{
    std::string shown =
        r.err.size() <= 2400 ? r.err : r.err.substr(0, 600) + "[...]\n" + r.err.substr(r.err.size() - 1800);
    const decode::DecodedStream stream = decode_quickly(r.out);
    shown += "[" + std::to_string(r.out.size()) + " printer bytes, " + std::to_string(stream.pages.size()) + " pages";
    if (stream.violation)
        shown += ", " + decode::format_violation(*stream.violation);
    return shown + "]";
}

// The checks of every case: nothing lost, no spool file left behind.
void expect_clean(const ProcessResult &r, const FilterJob &job, const Expected &expected)
{
    EXPECT_FALSE(r.timed_out);
    EXPECT_EQ(r.term_signal, 0);
    EXPECT_TRUE(nothing_lost(r.exit_code, r.out, r.err, expected)) << excerpt(r);
    EXPECT_TRUE(job.leftovers().empty()) << "spool file left: " << job.leftovers().front();
}

bool logged(const ProcessResult &r, const std::string &text) { return r.err.find(text) != std::string::npos; }

// A manual-duplex job, cancelled once its stream is complete: only the wait for
// the user to turn the stack is cut short.
ProcessResult run_manual_duplex(const FilterJob &job, const std::string &raster)
{
    FaultRun run = raster_fault_run(job, raster);
    run.sigterm_when = [](const FaultProgress &p) { return ends_with_job_end(p.out); };
    const FaultResult f = run_with_faults(run);
    EXPECT_TRUE(f.sigterm_sent);
    ProcessResult r;
    r.exit_code = f.exit_code;
    r.term_signal = f.term_signal;
    r.timed_out = f.timed_out;
    r.out = f.out;
    r.err = f.err;
    return r;
}

// --- Each header field ---

enum class Verdict {
    Prints,         // printed; on page 2 of a job as well
    FilterRefuses,  // the filter's own ERROR line (`error`)
    LibcupsRefuses, // libcups reads no header: no page, or the stream ends in a bad header
};

struct FieldCase {
    const char *name;
    std::function<void(cups_page_header2_t &)> set;
    Verdict verdict;
    const char *error = "";
};

const char *const kNotGray = "ERROR: The page is not 8-bit grayscale raster";
const char *const kShortLines = "ERROR: The raster lines are shorter than the page width";
const char *const kTooLarge = "ERROR: The raster page is too large to be printed.";
const char *const kPageSize = "ERROR: The page size is";
const char *const kNoResolution = "ERROR: The page has no resolution";
const char *const kCopies = "ERROR: The page asks for more than 65535 copies";

// Enumerated fields take any 32-bit value in the stream, which no enumerator names.
template <typename Field>
void set_raw(Field &field, unsigned value)
{
    static_assert(sizeof field == sizeof value);
    std::memcpy(&field, &value, sizeof value);
}

#define FIELD(expr) [](cups_page_header2_t &h) { expr; }

const FieldCase kFieldCases[] = {
    {"cupsWidth 0", FIELD(h.cupsWidth = 0), Verdict::Prints},
    {"cupsWidth 1", FIELD(h.cupsWidth = 1), Verdict::Prints},
    {"cupsWidth = cupsBytesPerLine", FIELD(h.cupsWidth = 600), Verdict::Prints},
    {"cupsWidth > cupsBytesPerLine", FIELD(h.cupsWidth = 601), Verdict::FilterRefuses, kShortLines},
    {"cupsWidth 2^32-1", FIELD(h.cupsWidth = kHuge), Verdict::FilterRefuses, kShortLines},
    {"cupsHeight 0", FIELD(h.cupsHeight = 0), Verdict::LibcupsRefuses},
    {"cupsHeight 1", FIELD(h.cupsHeight = 1), Verdict::Prints},
    {"cupsHeight at the cap", FIELD(h.cupsHeight = 131072), Verdict::Prints},
    {"cupsHeight beyond the cap", FIELD(h.cupsHeight = 131073), Verdict::FilterRefuses, kTooLarge},
    {"cupsHeight 2^32-1", FIELD(h.cupsHeight = kHuge), Verdict::FilterRefuses, kTooLarge},
    {"cupsBytesPerLine 0", FIELD(h.cupsBytesPerLine = 0), Verdict::LibcupsRefuses},
    {"cupsBytesPerLine 1", FIELD(h.cupsBytesPerLine = 1; h.cupsWidth = 1), Verdict::Prints},
    {"cupsBytesPerLine 1, wider page", FIELD(h.cupsBytesPerLine = 1), Verdict::FilterRefuses, kShortLines},
    {"cupsBytesPerLine twice the width", FIELD(h.cupsBytesPerLine = 1200), Verdict::Prints},
    {"cupsBytesPerLine at the cap", FIELD(h.cupsBytesPerLine = 65536), Verdict::Prints},
    {"cupsBytesPerLine beyond the cap", FIELD(h.cupsBytesPerLine = 65537), Verdict::FilterRefuses, kTooLarge},
    {"cupsBytesPerLine 2^31", FIELD(h.cupsBytesPerLine = 0x80000000u), Verdict::LibcupsRefuses},
    {"cupsBytesPerLine 2^32-1", FIELD(h.cupsBytesPerLine = kHuge), Verdict::LibcupsRefuses},
    {"cupsBitsPerColor 0", FIELD(h.cupsBitsPerColor = 0), Verdict::LibcupsRefuses},
    {"cupsBitsPerColor 1", FIELD(h.cupsBitsPerColor = 1), Verdict::FilterRefuses, kNotGray},
    {"cupsBitsPerColor 16", FIELD(h.cupsBitsPerColor = 16), Verdict::FilterRefuses, kNotGray},
    {"cupsBitsPerColor 17", FIELD(h.cupsBitsPerColor = 17), Verdict::LibcupsRefuses},
    {"cupsBitsPerColor 2^32-1", FIELD(h.cupsBitsPerColor = kHuge), Verdict::LibcupsRefuses},
    {"cupsBitsPerPixel 0", FIELD(h.cupsBitsPerPixel = 0), Verdict::LibcupsRefuses},
    {"cupsBitsPerPixel 1", FIELD(h.cupsBitsPerPixel = 1), Verdict::FilterRefuses, kNotGray},
    {"cupsBitsPerPixel 16", FIELD(h.cupsBitsPerPixel = 16), Verdict::FilterRefuses, kNotGray},
    {"cupsBitsPerPixel 240", FIELD(h.cupsBitsPerPixel = 240), Verdict::FilterRefuses, kNotGray},
    {"cupsBitsPerPixel 241", FIELD(h.cupsBitsPerPixel = 241), Verdict::LibcupsRefuses},
    {"cupsBitsPerPixel 2^32-1", FIELD(h.cupsBitsPerPixel = kHuge), Verdict::LibcupsRefuses},
    {"cupsBitsPerPixel 24, not a whole line", FIELD(h.cupsBitsPerPixel = 24; h.cupsBytesPerLine = 601),
     Verdict::LibcupsRefuses},
    {"cupsColorSpace W", FIELD(h.cupsColorSpace = CUPS_CSPACE_W), Verdict::Prints},
    {"cupsColorSpace RGB", FIELD(h.cupsColorSpace = CUPS_CSPACE_RGB), Verdict::FilterRefuses, kNotGray},
    {"cupsColorSpace K (0 is white)", FIELD(h.cupsColorSpace = CUPS_CSPACE_K), Verdict::FilterRefuses, kNotGray},
    {"cupsColorSpace CMYK", FIELD(h.cupsColorSpace = CUPS_CSPACE_CMYK), Verdict::FilterRefuses, kNotGray},
    {"cupsColorSpace DEVICE1", FIELD(h.cupsColorSpace = CUPS_CSPACE_DEVICE1), Verdict::FilterRefuses, kNotGray},
    {"cupsColorSpace 2^32-1", FIELD(set_raw(h.cupsColorSpace, kHuge)), Verdict::FilterRefuses, kNotGray},
    {"PageSize width 0", FIELD(h.PageSize[0] = 0), Verdict::FilterRefuses, kPageSize},
    {"PageSize width 1", FIELD(h.PageSize[0] = 1), Verdict::Prints},
    {"PageSize width at the cap", FIELD(h.PageSize[0] = 1966), Verdict::Prints},
    {"PageSize width beyond the cap", FIELD(h.PageSize[0] = 1967), Verdict::FilterRefuses, kPageSize},
    {"PageSize width 2^32-1", FIELD(h.PageSize[0] = kHuge), Verdict::FilterRefuses, kPageSize},
    {"PageSize height 0", FIELD(h.PageSize[1] = 0), Verdict::FilterRefuses, kPageSize},
    {"PageSize height 1", FIELD(h.PageSize[1] = 1), Verdict::Prints},
    {"PageSize height at the cap", FIELD(h.PageSize[1] = 3932), Verdict::Prints},
    {"PageSize height beyond the cap", FIELD(h.PageSize[1] = 3933), Verdict::FilterRefuses, kPageSize},
    {"PageSize height 2^32-1", FIELD(h.PageSize[1] = kHuge), Verdict::FilterRefuses, kPageSize},
    {"PageSize at both caps", FIELD(h.PageSize[0] = 1966; h.PageSize[1] = 3932), Verdict::FilterRefuses, kPageSize},
    {"HWResolution x 0", FIELD(h.HWResolution[0] = 0), Verdict::FilterRefuses, kNoResolution},
    {"HWResolution x 1", FIELD(h.HWResolution[0] = 1), Verdict::Prints},
    {"HWResolution x 65535", FIELD(h.HWResolution[0] = 65535), Verdict::Prints},
    {"HWResolution x 65536", FIELD(h.HWResolution[0] = 65536), Verdict::FilterRefuses, kPageSize},
    {"HWResolution x 2^32-1", FIELD(h.HWResolution[0] = kHuge), Verdict::FilterRefuses, kPageSize},
    {"HWResolution y 0", FIELD(h.HWResolution[1] = 0), Verdict::FilterRefuses, kNoResolution},
    {"HWResolution y 1", FIELD(h.HWResolution[1] = 1), Verdict::Prints},
    {"HWResolution y 2^32-1", FIELD(h.HWResolution[1] = kHuge), Verdict::FilterRefuses, kPageSize},
    {"cupsImagingBBox left 1", FIELD(h.cupsImagingBBox[0] = 1), Verdict::Prints},
    {"cupsImagingBBox left 71", FIELD(h.cupsImagingBBox[0] = 71), Verdict::Prints},
    {"cupsImagingBBox left 72", FIELD(h.cupsImagingBBox[0] = 72), Verdict::FilterRefuses, kPageSize},
    {"cupsImagingBBox left NaN", FIELD(h.cupsImagingBBox[0] = kNaN), Verdict::FilterRefuses, kPageSize},
    {"cupsImagingBBox left inf", FIELD(h.cupsImagingBBox[0] = kInf), Verdict::FilterRefuses, kPageSize},
    {"cupsImagingBBox left -inf", FIELD(h.cupsImagingBBox[0] = -kInf), Verdict::FilterRefuses, kPageSize},
    {"cupsImagingBBox left -FLT_MAX", FIELD(h.cupsImagingBBox[0] = -std::numeric_limits<float>::max()),
     Verdict::FilterRefuses, kPageSize},
    {"cupsImagingBBox a whole box", FIELD(h.cupsImagingBBox[2] = 72; h.cupsImagingBBox[3] = 72), Verdict::Prints},
    {"cupsImagingBBox right NaN", FIELD(h.cupsImagingBBox[2] = kNaN), Verdict::FilterRefuses, kPageSize},
    {"cupsImagingBBox right inf", FIELD(h.cupsImagingBBox[2] = kInf), Verdict::FilterRefuses, kPageSize},
    {"cupsImagingBBox bottom NaN", FIELD(h.cupsImagingBBox[1] = kNaN), Verdict::FilterRefuses, kPageSize},
    {"cupsImagingBBox top inf", FIELD(h.cupsImagingBBox[3] = kInf), Verdict::FilterRefuses, kPageSize},
    {"cupsImagingBBox top FLT_MAX", FIELD(h.cupsImagingBBox[3] = std::numeric_limits<float>::max()),
     Verdict::FilterRefuses, kPageSize},
    {"NumCopies 0", FIELD(h.NumCopies = 0), Verdict::Prints},
    {"NumCopies 65535", FIELD(h.NumCopies = 65535), Verdict::Prints},
    {"NumCopies 65536", FIELD(h.NumCopies = 65536), Verdict::FilterRefuses, kCopies},
    {"NumCopies 2^32-1", FIELD(h.NumCopies = kHuge), Verdict::FilterRefuses, kCopies},
    {"Duplex 1", FIELD(h.Duplex = CUPS_TRUE), Verdict::Prints},
    {"Duplex 2^32-1, Tumble 2^32-1", FIELD(set_raw(h.Duplex, kHuge); set_raw(h.Tumble, kHuge)), Verdict::Prints},
    {"cupsMediaType 2^32-1", FIELD(h.cupsMediaType = kHuge), Verdict::Prints},
    {"cupsColorOrder banded", FIELD(h.cupsColorOrder = CUPS_ORDER_BANDED), Verdict::Prints},
    {"cupsColorOrder planar", FIELD(h.cupsColorOrder = CUPS_ORDER_PLANAR), Verdict::Prints},
    {"cupsCompression, Orientation, ManualFeed, MediaPosition 2^32-1",
     FIELD(h.cupsCompression = h.MediaPosition = kHuge; set_raw(h.Orientation, kHuge); set_raw(h.ManualFeed, kHuge)), Verdict::Prints},
    {"cupsNumColors 0", FIELD(h.cupsNumColors = 0), Verdict::Prints},
    {"text fields without terminator",
     FIELD(std::memset(h.MediaClass, 'x', sizeof h.MediaClass); std::memset(h.cupsPageSizeName, 'y', 64)),
     Verdict::Prints},
};

#undef FIELD

// Each field case as the only page and as the second page of a job: a refused
// first page sends nothing, a refused later page ends the job after the pages before.
TEST(RasterBadInput, EveryHeaderFieldAtItsEdges)
{
    FilterJob job(platform_ppd(2));
    int tried = 0;
    for (const FieldCase &c : kFieldCases) {
        cups_page_header2_t h = inch_header();
        c.set(h);
        for (const bool second : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (second ? ", second page" : ", first page"));
            std::vector<RasterPage> pages;
            if (second)
                pages.push_back(page_of(inch_header()));
            pages.push_back(page_of(h));
            const ProcessResult r = job.run_stdin(raw_raster(pages));
            ++tried;
            const long printable = c.verdict == Verdict::Prints ? static_cast<long>(pages.size()) : -1;
            expect_clean(r, job, {printable});
            const JobLog log = read_job_log(r.err);
            switch (c.verdict) {
            case Verdict::Prints:
                EXPECT_EQ(r.exit_code, 0);
                break;
            case Verdict::FilterRefuses:
                EXPECT_EQ(r.exit_code, 1);
                EXPECT_TRUE(logged(r, c.error)) << excerpt(r);
                EXPECT_EQ(log.pages.size(), pages.size() - 1) << "a refused page has no PAGE line";
                break;
            case Verdict::LibcupsRefuses:
                EXPECT_EQ(r.exit_code, 1);
                EXPECT_TRUE(logged(r, second ? "ERROR: The raster data end inside a page header"
                                             : "ERROR: No pages found!"))
                    << excerpt(r);
                break;
            }
            // A refused first page sends nothing; one after it leaves the job complete.
            const decode::DecodedStream s = decode_quickly(r.out);
            const size_t printed = c.verdict == Verdict::Prints ? pages.size() : pages.size() - 1;
            if (printed == 0) {
                EXPECT_EQ(r.out, "");
            } else {
                EXPECT_GE(s.pages.size(), printed);
            }
        }
    }
    RecordProperty("inputs", tried);
}

TEST(RasterBadInput, ZeroCopiesPrintOneAndTheLargestCountIsSent)
{
    FilterJob job(platform_ppd(2));
    for (const unsigned copies : {0u, 65535u}) {
        cups_page_header2_t h = inch_header();
        h.NumCopies = copies;
        const ProcessResult r = job.run_stdin(raw_raster({page_of(h)}));
        ASSERT_EQ(r.exit_code, 0) << r.err;
        const decode::DecodedStream s = decode_quickly(r.out);
        ASSERT_EQ(s.pages.size(), 1u);
        EXPECT_EQ(s.pages[0].copies, copies == 0 ? 1 : 65535);
        EXPECT_TRUE(logged(r, copies == 0 ? "PAGE: 1 1\n" : "PAGE: 1 65535\n"));
    }
}

// --- Streams cut, extended or without pages ---

struct StreamCase {
    const char *name;
    std::function<std::string()> raster;
    int exit_code;
    size_t pages_printed;
    const char *error;
};

// The second page's lines all differ, so that its compressed rows can be cut between lines.
std::vector<RasterPage> two_pages()
{
    return {page_of(inch_header()),
            page_of(inch_header(), [](unsigned y, unsigned char *line, unsigned bytes) { line[y % bytes] = 0; })};
}

std::string cut(const std::string &stream, size_t at) { return stream.substr(0, at); }

const char *const kCutHeader = "ERROR: The raster data end inside a page header or with data that are no page";
const char *const kCutRows = "ERROR: The raster data of page 2 end after ";

const StreamCase kStreamCases[] = {
    {"no bytes", [] { return std::string(); }, 1, 0, "ERROR: No pages found!"},
    {"only the sync word", [] { return raw_raster({}); }, 1, 0, "ERROR: No pages found!"},
    {"no sync word", [] { return std::string("%!PS-Adobe-3.0\nshowpage\n"); }, 1, 0, "ERROR: No pages found!"},
    {"a first header cut short", [] { return cut(raw_raster(two_pages()), 4 + 1000); }, 1, 0,
     "ERROR: No pages found!"},
    {"one page", [] { return raw_raster({page_of(inch_header())}); }, 0, 1, ""},
    {"second header cut after 100 bytes",
     [] { return cut(raw_raster(two_pages()), raw_header_offset(two_pages(), 1) + 100); }, 1, 1, kCutHeader},
    {"second header one byte short",
     [] { return cut(raw_raster(two_pages()), raw_header_offset(two_pages(), 1) + kRawHeaderBytes - 1); }, 1, 1,
     kCutHeader},
    {"second page's rows cut, compressed",
     [] { return cut(raw_raster(two_pages()), raw_header_offset(two_pages(), 1) + kRawHeaderBytes + 40); }, 1, 2,
     kCutRows},
    {"second page's rows cut, uncompressed",
     [] {
         const size_t header = raw_header_offset(two_pages(), 1, RawFormat::Uncompressed) + kRawHeaderBytes;
         return cut(raw_raster(two_pages(), RawFormat::Uncompressed), header + 300 * 600 + 17);
     },
     1, 2, "ERROR: The raster data of page 2 end after 300 of its 600 lines"},
    {"uncompressed, whole", [] { return raw_raster(two_pages(), RawFormat::Uncompressed); }, 0, 2, ""},
    {"ten bytes of junk after the last page", [] { return raw_raster(two_pages()) + "0123456789"; }, 1, 2,
     kCutHeader},
    {"a header's worth of junk after the last page",
     [] { return raw_raster(two_pages()) + std::string(kRawHeaderBytes + 300, '\x5a'); }, 1, 2, kCutHeader},
    {"junk after an uncompressed last page",
     [] { return raw_raster(two_pages(), RawFormat::Uncompressed) + "\n"; }, 1, 2, kCutHeader},
    {"a second sync word after the last page", [] { return raw_raster(two_pages()) + raw_raster({}); }, 1, 2,
     kCutHeader},
};

TEST(RasterBadInput, StreamsCutExtendedOrEmpty)
{
    for (int platform : {1, 2, 3}) {
        FilterJob job(platform_ppd(platform));
        for (const StreamCase &c : kStreamCases) {
            SCOPED_TRACE(std::string(c.name) + ", platform " + std::to_string(platform));
            const ProcessResult r = job.run_stdin(c.raster());
            expect_clean(r, job, {c.exit_code == 0 ? static_cast<long>(c.pages_printed) : -1});
            EXPECT_EQ(r.exit_code, c.exit_code) << excerpt(r);
            EXPECT_EQ(read_job_log(r.err).pages.size(), c.pages_printed);
            if (*c.error != '\0') {
                EXPECT_TRUE(logged(r, c.error)) << excerpt(r);
            }
            if (c.pages_printed == 0) {
                EXPECT_EQ(r.out, "");
            } else {
                EXPECT_EQ(decode_quickly(r.out).pages.size(), c.pages_printed);
            }
        }
    }
}

// --- Page sizes that change from page to page ---

struct SizedPage {
    unsigned widthPt, heightPt;
    uint32_t width, height; // the platform-Z device image (after a quarter turn for long-edge A5)
};

// A6, A4, a computed inch, long-edge A5 (turned by a quarter: the whole gray page),
// Letter, and A6 again after the largest page.
const SizedPage kSizes[] = {{298, 420, 2272, 3260}, {595, 842, 4736, 6780}, {72, 72, 608, 600},
                            {421, 595, 4736, 3264}, {612, 792, 4864, 6364}, {298, 420, 2272, 3260}};

TEST(RasterBadInput, PageSizesThatChangeFromPageToPage)
{
    std::vector<RasterPage> pages;
    for (const SizedPage &size : kSizes) {
        cups_page_header2_t h = gray_header(size.widthPt, size.heightPt);
        h.NumCopies = 2;
        // A black square in the middle of the top: no centring cuts it.
        const unsigned x = h.cupsWidth / 2 - 32;
        pages.emplace_back(h, fill_rect(x, 100, x + 64, 164));
    }
    const std::string raster = make_raster(pages);
    struct Variant {
        const char *options;
        const char *threads;
        bool manualDuplex;
    };
    for (const Variant &v : {Variant{"", "1", false}, Variant{"", "4", false}, Variant{"Collate=true", "1", false},
                             Variant{"Collate=true", "4", false}, Variant{"ManualDuplex=true", "4", true}}) {
        SCOPED_TRACE(std::string(v.options) + ", " + v.threads + " threads");
        TestPpd ppd = platform_ppd(2);
        ppd.manualDuplexMessage = "Turn the stack over";
        FilterJob job(ppd);
        job.options = v.options;
        job.process.env.push_back(std::string("VARKON_THREADS=") + v.threads);
        const ProcessResult r = v.manualDuplex ? run_manual_duplex(job, raster) : job.run_stdin(raster);
        expect_clean(r, job, {static_cast<long>(pages.size()), v.manualDuplex});
        ASSERT_EQ(r.exit_code, 0);
        const decode::DecodedStream s = decode_quickly(r.out);
        const size_t copies = std::string(v.options) == "Collate=true" ? 2 : 1;
        ASSERT_EQ(s.pages.size(), copies * pages.size());
        for (const decode::Page &p : s.pages) {
            const SizedPage &size = kSizes[p.number - 1];
            EXPECT_EQ(p.width, size.width) << "page " << p.number;
            EXPECT_EQ(p.height, size.height) << "page " << p.number;
            EXPECT_EQ(p.ink, 64u * 64u) << "page " << p.number;
        }
    }
}

// On a platform Z printer without a duplexer a duplex request becomes manual
// duplex; the first page decides it for the job. A later page that asks for
// duplex, or stops asking, changes nothing: every page is printed once, in the
// order of the job's own way.
TEST(RasterBadInput, ADuplexRequestThatChangesFromPageToPage)
{
    struct Variant {
        const char *name;
        bool firstPageDuplex;
        const char *options;
        bool manualDuplex;
    };
    for (const Variant &v : {Variant{"one-sided first page", false, "", false},
                             Variant{"one-sided first page, collated", false, "Collate=true", false},
                             Variant{"two-sided first page", true, "", true},
                             Variant{"two-sided first page, collated", true, "Collate=true", true}}) {
        SCOPED_TRACE(v.name);
        std::vector<RasterPage> pages;
        for (unsigned n = 0; n < 5; ++n) {
            cups_page_header2_t h = inch_header();
            h.NumCopies = 2;
            h.Duplex = ((n == 0) == v.firstPageDuplex) ? CUPS_TRUE : CUPS_FALSE;
            pages.push_back(page_of(h));
        }
        TestPpd ppd = platform_ppd(2);
        ppd.supportManualDuplex = "TRUE";
        ppd.manualDuplexMessage = "Turn the stack over";
        FilterJob job(ppd);
        job.options = v.options;
        const std::string raster = raw_raster(pages);
        const ProcessResult r = v.manualDuplex ? run_manual_duplex(job, raster) : job.run_stdin(raster);
        expect_clean(r, job, {5, v.manualDuplex});
        ASSERT_EQ(r.exit_code, 0);
        const decode::DecodedStream s = decode_quickly(r.out);
        const bool collated = std::string(v.options) == "Collate=true";
        EXPECT_EQ(s.pages.size(), (collated ? 2u : 1u) * 5u + (v.manualDuplex ? (collated ? 2u : 1u) : 0u))
            << "with manual duplex the odd page count gets a blank back side per copy";
        EXPECT_EQ(s.manual_duplex_at.has_value(), v.manualDuplex);
    }
}

// --- Long jobs ---

TEST(RasterBadInput, ATwoThousandPageJob)
{
    FilterJob job(platform_ppd(3));
    const std::vector<RasterPage> pages(2000, page_of(inch_header()));
    const ProcessResult r = job.run_stdin(raw_raster(pages));
    expect_clean(r, job, {2000});
    ASSERT_EQ(r.exit_code, 0);
    const decode::DecodedStream s = decode_quickly(r.out);
    ASSERT_EQ(s.pages.size(), 2000u);
    EXPECT_EQ(s.pages.back().number, 2000);
}

// 1051 even pages: more than the 1024 that a fixed index of even-page lengths would hold.
TEST(RasterBadInput, AManualDuplexJobOfMoreThan2048Pages)
{
    TestPpd ppd = platform_ppd(2);
    ppd.manualDuplexMessage = "Turn the stack over";
    FilterJob job(ppd);
    job.options = "ManualDuplex=true";
    std::vector<RasterPage> pages;
    for (unsigned n = 0; n < 2103; ++n)
        pages.push_back(page_of(inch_header(), fill_rect(0, 0, 8 + n % 512, 8)));
    const ProcessResult r = run_manual_duplex(job, raw_raster(pages));
    expect_clean(r, job, {2103, true});
    ASSERT_EQ(r.exit_code, 0);
    const decode::DecodedStream s = decode_quickly(r.out);
    ASSERT_TRUE(s.valid());
    ASSERT_EQ(s.pages.size(), 2104u); // with the blank back of the last sheet
    std::vector<int> expected;
    for (int n = 1; n <= 2103; n += 2)
        expected.push_back(n);
    expected.push_back(2104);
    for (int n = 2102; n >= 2; n -= 2)
        expected.push_back(n);
    for (size_t i = 0; i < s.pages.size(); ++i) {
        ASSERT_EQ(s.pages[i].number, expected[i]) << "position " << i;
        if (s.pages[i].number <= 2103) {
            EXPECT_EQ(s.pages[i].ink, 8u * (8 + (s.pages[i].number - 1) % 512)) << "page " << s.pages[i].number;
        }
    }
}

// --- Job texts ---

// Texts that a shell, a PJL line or the job log would take for something else.
std::vector<std::string> hostile_texts(const std::string &marker)
{
    return {"\"quoted\" 'single'",
            "back\\slash\\",
            "$(touch " + marker + ")",
            "`touch " + marker + "`",
            "a; touch " + marker,
            "a | touch " + marker,
            "a & touch " + marker + " &",
            "line\nPAGE: 99 99\nATTR: job-impressions=99\n",
            "\r\n@PJL ENTER LANGUAGE=POSTSCRIPT\r\n",
            "-h",
            "--help",
            std::string(65536, 'x'),
            "\xff\xfe\xc3\x28 \xed\xa0\x80 invalid UTF-8",
            std::string("nul\0inside", 10)};
}

TEST(RasterBadInput, JobTextsArriveVerbatimAndRunNothing)
{
    FilterJob job(platform_ppd(2));
    const std::string marker = job.dir.file("ran");
    const std::string raster = raw_raster({page_of(inch_header())});
    int tried = 0;
    for (const std::string &text : hostile_texts(marker)) {
        for (int slot : {1, 2, 3, 5}) { // job id, user, title, options
            SCOPED_TRACE("argument " + std::to_string(slot) + ": " + text.substr(0, 60));
            std::vector<std::string> args = {"42", "user", "title", "1", ""};
            args[slot - 1] = text;
            const ProcessResult r = job.run_args(args, raster);
            ++tried;
            expect_clean(r, job, {1});
            EXPECT_EQ(r.exit_code, 0);
            EXPECT_EQ(read_job_log(r.err).pages, std::vector<int>{1});
            struct stat info {};
            EXPECT_NE(stat(marker.c_str(), &info), 0) << "a job text was run";
        }
    }
    RecordProperty("inputs", tried);
}

// Platform Z completes the options from the PPD; an options text longer than
// that completion's buffer keeps its last options.
TEST(RasterBadInput, TheLastOptionOfA64KiBOptionsTextStillCounts)
{
    TestPpd ppd = platform_ppd(2);
    ppd.booleans = {{"TonerMode", "True"}};
    FilterJob job(ppd);
    job.options = "padding=" + std::string(65536, 'p') + " Duplex=DuplexNoTumble";
    const ProcessResult r = job.run_stdin(raw_raster({page_of(inch_header())}));
    expect_clean(r, job, {1});
    ASSERT_EQ(r.exit_code, 0);
    EXPECT_TRUE(logged(r, "DEBUG: ##platform = 2, ##autoduplex = 1\n")) << excerpt(r);
    const decode::DecodedStream s = decode_quickly(r.out);
    EXPECT_EQ(s.pages.size(), 2u) << "the odd duplex job ends with a blank side";
}

// --- Page headers held back from libcups ---

// The stream with the other byte order: the swapped sync word and the 81
// header words libcups swaps back.
std::string byte_swapped(std::string stream, const std::vector<RasterPage> &pages, RawFormat format)
{
    const uint32_t native = *reinterpret_cast<const uint32_t *>(stream.data());
    const uint32_t swapped = __builtin_bswap32(native);
    std::memcpy(stream.data(), &swapped, 4);
    for (size_t page = 0; page < pages.size(); ++page) {
        const size_t header = raw_header_offset(pages, page, format);
        for (size_t at = header + offsetof(cups_page_header2_t, AdvanceDistance);
             at < header + offsetof(cups_page_header2_t, cupsString); at += 4)
            std::reverse(stream.begin() + static_cast<long>(at), stream.begin() + static_cast<long>(at) + 4);
    }
    return stream;
}

struct MemoryRun {
    ProcessResult result;
    long peakKiB = -1; // the filter's peak resident memory
};

// The real filter with its address space limited to `limitBytes`, as a print
// server may limit it: an allocation the size of a 2 GiB line then fails. The
// sanitizers need their shadow memory: there the allocator refuses such a size.
MemoryRun run_limited(FilterJob &job, const std::string &raster, rlim_t limitBytes)
{
    const std::string input = job.dir.file("job.ras"), out = job.dir.file("out"), err = job.dir.file("err");
    write_file(input, raster);
    MemoryRun run;
    const pid_t pid = fork();
    if (pid == 0) {
        if (kSanitizedBuild) {
            const char *given = std::getenv("ASAN_OPTIONS");
            const std::string options = std::string(given != nullptr ? given : "") +
                                        ":allocator_may_return_null=1:max_allocation_size_mb=" +
                                        std::to_string(limitBytes >> 20);
            setenv("ASAN_OPTIONS", options.c_str(), 1);
        } else {
            const rlimit limit{limitBytes, limitBytes};
            setrlimit(RLIMIT_AS, &limit);
        }
        setenv("PPD", job.ppd_path.c_str(), 1);
        setenv("TMPDIR", job.tmpdir.c_str(), 1);
        const int in = open(input.c_str(), O_RDONLY), o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600),
                  e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(in, 0);
        dup2(o, 1);
        dup2(e, 2);
        const std::string program = built_program("rastertoVarkon/rastertoVarkon");
        execl(program.c_str(), "rastertoVarkon", "42", "user", "title", "1", "", static_cast<char *>(nullptr));
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    run.result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.result.term_signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    run.result.out = read_file(out);
    run.result.err = read_file(err);
    run.peakKiB = usage.ru_maxrss;
    return run;
}

// libcups allocates a line of cupsBytesPerLine bytes (up to 2 GiB) while it
// reads a compressed page's header, before the filter could refuse the page: the
// filter checks the header's own bytes first, in every version and byte order.
TEST(RasterBadInput, AHeaderAskingForTwoGibibyteLinesIsRefusedBeforeLibcupsReadsIt)
{
    cups_page_header2_t huge = gray_header(595, 842);
    huge.cupsBytesPerLine = 0x7FFFFFFE;
    huge.cupsHeight = 16;
    const std::vector<RasterPage> alone = {RasterPage(huge, {}, 0)};
    const std::vector<RasterPage> second = {RasterPage(gray_header(298, 420)), RasterPage(huge, {}, 0)};
    struct Case {
        const char *name;
        std::string raster;
        int pagesPrinted;
    };
    std::string v1 = raw_raster(alone, RawFormat::Uncompressed);
    const uint32_t v1Sync = CUPS_RASTER_SYNCv1;
    std::memcpy(v1.data(), &v1Sync, 4);
    const Case cases[] = {
        {"compressed, first page", raw_raster(alone, RawFormat::Compressed), 0},
        {"uncompressed, first page", raw_raster(alone, RawFormat::Uncompressed), 0},
        {"version 1, first page", v1, 0},
        {"compressed, other byte order", byte_swapped(raw_raster(alone), alone, RawFormat::Compressed), 0},
        {"uncompressed, other byte order",
         byte_swapped(raw_raster(alone, RawFormat::Uncompressed), alone, RawFormat::Uncompressed), 0},
        {"compressed, second page", raw_raster(second, RawFormat::Compressed), 1},
        {"uncompressed, second page", raw_raster(second, RawFormat::Uncompressed), 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        FilterJob job(platform_ppd(2));
        const MemoryRun run = run_limited(job, c.raster, rlim_t{1} << 30);
        EXPECT_EQ(run.result.exit_code, 1) << run.result.err;
        EXPECT_NE(run.result.err.find("ERROR: The raster page is too large to be printed.\n"), std::string::npos)
            << run.result.err.substr(run.result.err.size() > 2000 ? run.result.err.size() - 2000 : 0);
        if (!kSanitizedBuild) {
            EXPECT_LT(run.peakKiB, 64 * 1024) << "peak memory";
        }
        const decode::DecodedStream s = decode_quickly(run.result.out);
        EXPECT_EQ(static_cast<int>(s.pages.size()), c.pagesPrinted);
        if (c.pagesPrinted > 0) {
            EXPECT_TRUE(s.valid() && s.job_ended);
        }
        EXPECT_TRUE(job.leftovers().empty());
    }
}

} // namespace
