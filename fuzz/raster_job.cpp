// SPDX-License-Identifier: GPL-2.0-or-later
// The whole raster job from bytes: header checks, page sizing, dither, JBIG,
// frames, copies and manual duplex, through run_job as the filter runs it,
// into a writer that keeps the printer stream for the decoder.
//
// Input: a printer (PPD) byte, two bytes of options, a density byte, a short
// job title, then the raster stream. Each job has smaller page caps than the
// filter (JobRun::limits) and at most kMaxPages pages and kMaxReplayedCopies
// replayed copies, so one input stays well under a second.
#include "fuzz_input.h"
#include "raster_fuzz_ppd.h"

#include "job_loop.h"
#include "output_sink.h"
#include "page_geometry.h"
#include "platform.h"
#include "raster_fields.h"
#include "varkon_decode.h"

#include <cups/raster.h>
#include <dirent.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

using varkon::fuzz::require;

namespace {

constexpr unsigned kMaxPages = 8;
constexpr unsigned kMaxReplayedCopies = 4;
constexpr size_t kOutputBudget = 8u << 20;

// About a square of 1000 pixels at most: a page stays a few milliseconds.
varkon::PageLimits fuzz_limits()
{
    varkon::PageLimits limits;
    limits.maxDeviceWidth = 2048;
    limits.maxDeviceHeight = 2048;
    limits.maxDevicePixels = uint64_t(1) << 20;
    limits.maxRasterLineBytes = 4096;
    limits.maxRasterLines = 4096;
    return limits;
}

struct FuzzPrinter {
    varkon::fuzz::FuzzPpd ppd;
    int platform;
};

constexpr const char kTurnMessage[] = "Turn the printed sheets over and put them back into the tray";

// Model-table printers of each platform, printers known only by their PlatForm
// text (in any case), and two the filter cannot print for.
std::vector<FuzzPrinter> fuzz_printers()
{
    using varkon::fuzz::FuzzPpd;
    return {
        {FuzzPpd{"Varkon Belvar 210 Series", "", "TRUE", kTurnMessage, {}, ""}, PLATFORM_C},
        {FuzzPpd{"Varkon Belvar 230md Series", "", "", "", {}, ""}, PLATFORM_C},
        {FuzzPpd{"Varkon Oskel 301 Series", "", "TRUE", kTurnMessage,
                 {{"TonerMode", "True"}, {"FeedLongEdge", "False"}, {"ImageRotation", "True"}, {"NegativePrint", "False"}},
                 "4"},
         PLATFORM_Z},
        {FuzzPpd{"Varkon Future Printer", "platform_z", "true", kTurnMessage, {{"NegativePrint", "True"}}, "3"},
         PLATFORM_Z},
        {FuzzPpd{"Varkon Nimbrel 41 Series", "", "TRUE", kTurnMessage, {}, ""}, PLATFORM_M},
        {FuzzPpd{"Varkon Future MFP", "PLATFORM_M", "", "", {}, ""}, PLATFORM_M},
        {FuzzPpd{"Varkon Unknown Printer", "", "", "", {}, ""}, PLATFORM_NONE},
        {FuzzPpd{"Varkon Future Copier", "PLATFORM_X", "TRUE", "", {}, ""}, PLATFORM_NONE},
    };
}

constexpr const char kWorkspacePrefix[] = "varkon-fuzz-raster-";

// Folders of earlier runs that ended in a crash, which skips the removal at
// exit: named after their process, which is gone.
void remove_abandoned_workspaces(const std::filesystem::path &parent)
{
    std::error_code error;
    for (const auto &entry : std::filesystem::directory_iterator(parent, error)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind(kWorkspacePrefix, 0) != 0)
            continue;
        const long pid = std::strtol(name.c_str() + std::strlen(kWorkspacePrefix), nullptr, 10);
        if (pid > 0 && kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH)
            std::filesystem::remove_all(entry.path(), error);
    }
}

// The PPDs and the filter's TMPDIR, made once per process and removed at its end.
struct Workspace {
    std::filesystem::path root;
    std::filesystem::path tmpdir;
    std::vector<FuzzPrinter> printers = fuzz_printers();
    std::vector<std::string> ppdPaths;

    Workspace()
    {
        const std::filesystem::path parent = std::filesystem::temp_directory_path();
        remove_abandoned_workspaces(parent);
        root = parent / (kWorkspacePrefix + std::to_string(getpid()));
        std::filesystem::remove_all(root);
        require(mkdir(root.c_str(), 0700) == 0, "a private folder can be made");
        tmpdir = root / "tmp";
        std::filesystem::create_directory(tmpdir);
        for (size_t i = 0; i < printers.size(); ++i) {
            const std::filesystem::path path = root / ("printer" + std::to_string(i) + ".ppd");
            std::ofstream(path) << varkon::fuzz::ppd_text(printers[i].ppd);
            ppdPaths.push_back(path.string());
        }
        setenv("TMPDIR", tmpdir.c_str(), 1);
    }
    ~Workspace()
    {
        std::error_code ignored;
        std::filesystem::remove_all(root, ignored);
    }
};

Workspace &workspace()
{
    static Workspace instance;
    return instance;
}

// The job options text from two bytes of flags and a density byte.
std::string job_options(uint8_t a, uint8_t b, uint8_t density)
{
    static const char *const kDuplex[] = {"", " Duplex=None", " Duplex=DuplexNoTumble", " Duplex=DuplexTumble"};
    static const char *const kOrder[] = {"", " outputorder=true", " outputorder=reverse", " noImageRotation"};
    static const char *const kSlot[] = {"", " InputSlot=Auto", " InputSlot=ManualFeed", " InputSlot=AutoFeed"};
    std::string text = "job-uuid=urn:uuid:0 PageSize=A4";
    if (a & 0x01) text += " Collate=True";
    if (a & 0x02) text += " ManualDuplex=True";
    if (a & 0x04) text += " DPI1200=True";
    if (a & 0x08) text += " NegativePrint=True";
    if (a & 0x10) text += " TonerMode=True";
    if (a & 0x20) text += " ImageRotation=True";
    if (a & 0x40) text += " FeedLongEdge=True";
    text += kDuplex[b & 3];
    text += kOrder[(b >> 2) & 3];
    text += kSlot[(b >> 4) & 3];
    if (b & 0x40) text += " sides=two-sided-long-edge Sides=two-sided-short-edge";
    if (b & 0x80) text += " FineMode=true";
    if (density <= 5)
        text += " Density=" + std::to_string(density);
    return text;
}

struct MemoryStream {
    const std::vector<uint8_t> &bytes;
    size_t position = 0;
};

ssize_t read_memory(void *context, unsigned char *buffer, size_t length)
{
    auto *stream = static_cast<MemoryStream *>(context);
    const size_t count = std::min(length, stream->bytes.size() - stream->position);
    if (count > 0)
        std::memcpy(buffer, stream->bytes.data() + stream->position, count);
    stream->position += count;
    return static_cast<ssize_t>(count);
}

// Pages, the largest copy count and whether a header asks for duplex, in the
// stream as libcups reads it, up to the first page the job refuses (it stops there too).
struct StreamShape {
    unsigned pages = 0;
    unsigned copies = 1;
    bool duplex = false;
};

StreamShape stream_shape(const std::vector<uint8_t> &raster, const varkon::PageLimits &limits)
{
    StreamShape shape;
    MemoryStream stream{raster};
    cups_raster_t *ras = cupsRasterOpenIO(read_memory, &stream, CUPS_RASTER_READ);
    if (ras == nullptr)
        return shape;
    cups_page_header2_t header;
    std::vector<unsigned char> line;
    bool whole = true;
    while (whole && shape.pages <= kMaxPages && cupsRasterReadHeader2(ras, &header) != 0) {
        varkon::normalise_copies(&header);
        ++shape.pages;
        shape.copies = std::max(shape.copies, header.NumCopies);
        shape.duplex = shape.duplex || varkon::field_value(header.Duplex) != 0;
        if (varkon::raster_header_problem(header, limits) != nullptr)
            break;
        line.resize(header.cupsBytesPerLine);
        for (unsigned y = 0; whole && y < header.cupsHeight; ++y)
            whole = cupsRasterReadPixels(ras, line.data(), header.cupsBytesPerLine) != 0;
    }
    cupsRasterClose(ras);
    return shape;
}

// The printer stream as the job writes it; past the budget every write is
// refused, the way a full disk would.
struct Sink : varkon::PrinterSink {
    std::vector<unsigned char> bytes;
    bool refused = false;

    size_t write(const unsigned char *data, size_t count) override
    {
        if (refused || bytes.size() + count > kOutputBudget) {
            refused = true;
            errno = ENOSPC;
            return 0;
        }
        bytes.insert(bytes.end(), data, data + count);
        return count;
    }
};

size_t open_descriptors()
{
    size_t count = 0;
    if (DIR *dir = opendir("/proc/self/fd")) {
        while (readdir(dir) != nullptr)
            ++count;
        closedir(dir);
    }
    return count;
}

bool folder_empty(const std::filesystem::path &path)
{
    return std::filesystem::is_empty(path);
}

// Automatic and manual duplex asked for at once, which only platform Z turns
// into one of them: the job end sends the blank back side of an odd page count
// before the manual-duplex command, where the printer takes only odd pages. Both
// requests are kept as given, so such a stream is not checked against the decoder.
bool both_duplexes(uint8_t flagsA, uint8_t flagsB, int platform, const StreamShape &shape)
{
    const bool manualOption = (flagsA & 0x02) != 0;
    const bool duplexOption = (flagsB & 3) >= 2, noDuplexOption = (flagsB & 3) == 0;
    return manualOption && platform != PLATFORM_Z && (duplexOption || (noDuplexOption && shape.duplex));
}

// What the stream of a job that ran must be: whole, with its job end, on the
// printer's platform. A job that printed nothing has written nothing.
void check_stream(const Sink &sink, int status, int platform, bool unchecked)
{
    if (platform == PLATFORM_NONE) {
        require(status == 1 && sink.bytes.empty(), "a printer without a platform gets no data and the job fails");
        return;
    }
    if (sink.refused) {
        require(status == 1, "a printer stream that could not be written fails the job");
        return;
    }
    if (status == 0)
        require(!sink.bytes.empty(), "a job that succeeded has written its pages");
    if (sink.bytes.empty() || unchecked)
        return;
    varkon::decode::DecodeOptions options;
    options.platform = static_cast<varkon::decode::Platform>(platform);
    options.keep_pixels = false;
    const varkon::decode::DecodedStream decoded = varkon::decode::decode_stream(sink.bytes.data(), sink.bytes.size(), options);
    if (decoded.violation)
        std::fprintf(stderr, "decoder: %s\n", varkon::decode::format_violation(*decoded.violation).c_str());
    require(decoded.valid(), "the printer stream decodes without a violation");
    require(decoded.job_started && decoded.job_ended, "a job that started has its job end");
    require(!decoded.pages.empty(), "a job that started has a page");
}

} // namespace

// libcups allocates a line of the header's cupsBytesPerLine as it reads a header,
// before the filter can refuse the page: a few bytes ask for gigabytes. A print
// server refuses such an allocation and libcups reports the header as unreadable;
// the sanitizer is told to do the same instead of ending the run as out of memory.
extern "C" const char *__asan_default_options() { return "allocator_may_return_null=1:max_allocation_size_mb=1024"; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Workspace &work = workspace();
    varkon::fuzz::FuzzInput input(data, size);
    const size_t printer = input.byte() % work.printers.size();
    const uint8_t flagsA = input.byte(), flagsB = input.byte(), density = input.byte();
    std::string title = input.text(40);
    title.erase(std::find(title.begin(), title.end(), '\0'), title.end());
    const std::vector<uint8_t> raster = input.rest();

    varkon::JobRun run;
    run.rasterInMemory = true;
    run.raster = raster.empty() ? nullptr : raster.data();
    run.rasterSize = raster.size();
    run.ownSignals = false;
    run.manualDuplexWaitSeconds = 0;
    run.encoderThreads = (flagsA & 0x80) ? 2 : 1;
    run.limits = fuzz_limits();

    const StreamShape shape = stream_shape(raster, run.limits);
    const bool replays = (flagsA & 0x03) != 0;
    if (shape.pages > kMaxPages || (replays && shape.copies > kMaxReplayedCopies))
        return -1;

    std::string options = job_options(flagsA, flagsB, density);
    char *argv[] = {const_cast<char *>("rastertoVarkon"), const_cast<char *>("17"), const_cast<char *>("fuzz"),
                    title.data(), const_cast<char *>("1"), options.data(), nullptr};
    setenv("PPD", work.ppdPaths[printer].c_str(), 1);
    const size_t descriptors = open_descriptors();
    Sink sink;
    run.printer = &sink;
    const int status = varkon::run_job(6, argv, run);

    require(status == 0 || status == 1, "the job ends with 0 or 1");
    require(folder_empty(work.tmpdir), "no spool file is left in TMPDIR");
    require(open_descriptors() == descriptors, "the job closes every descriptor it opened");
    const int platform = work.printers[printer].platform;
    check_stream(sink, status, platform, both_duplexes(flagsA, flagsB, platform, shape));
    return 0;
}
