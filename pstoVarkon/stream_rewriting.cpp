// SPDX-License-Identifier: GPL-2.0-or-later
// PostScript stream rewriting for Jurvex printers and the plain copy for the rest.
#include "stream_rewriting.h"

#include "job_state.h"
#include "liaison.h"
#include "line_reader.h"
#include "ppd_file.h"
#include "printer_text.h"
#include "queue_lookup.h"
#include "text_search.h"
#include "write_all.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr std::string_view kPageStart = "%%Page:";
constexpr std::string_view kSetupThenPage = "%%EndSetup\n%%Page:";
constexpr std::string_view kJobNameLine = "@PJL JOB NAME";
constexpr char kA5Line[] = "@PJL SET PAPER=A5L\r\n";
constexpr std::size_t kHostNameField = 256;

// Cleared by the first write to standard output that fails, or by a job file
// that cannot be read; only the main thread writes the printer stream.
bool g_stream_complete = true;

// --- Cutting a cancelled job ---

void log_cut(const char *block)
{
    std::fprintf(stderr, "data_buf = %s, len = %d\n", block, kJobTrailerSize);
}

// Offers one line to find_pageend; true when the job was cut there.
bool cut_at_line(const std::string &line)
{
    std::vector<char> block(std::max(line.size(), static_cast<std::size_t>(kJobTrailerSize)) + 1, '\0');
    std::copy(line.begin(), line.end(), block.begin());
    int cut = 0;
    find_pageend(block.data(), static_cast<int>(line.size()), &cut, 1);
    if (cut != kJobTrailerSize)
        return false;
    log_cut(block.data());
    return true;
}

// --- Rewriting Jurvex jobs ---

// The local host name, which the printer shows as the job's owner; empty when unknown.
std::string local_host_name()
{
    char name[kHostNameField] = {};
    if (gethostname(name, sizeof name - 1) != 0) {
        const int error = errno;
        std::fprintf(stderr, "gethostname failed! error errno:%d, msg:%s\n", error, std::strerror(error));
        return {};
    }
    std::fprintf(stderr, "hostname %s\n", name);
    return name;
}

void start_cancel_watcher(char **argv, const std::string &host)
{
    char uri[kQueueValueField] = {}, make_and_model[kQueueValueField] = {};
    getPrinter_optiopns(argv[0], uri, make_and_model);

    std::memset(&cancel_query_arg, 0, sizeof cancel_query_arg);
    std::strncpy(cancel_query_arg.uri, uri, sizeof cancel_query_arg.uri - 1);
    cancel_query_arg.jobid = std::atoi(argv[1]);
    std::strncpy(cancel_query_arg.jobower, host.c_str(), sizeof cancel_query_arg.jobower - 1);
    std::fprintf(stderr, "uri:%s,jobid:%d,jobower:%s\n", cancel_query_arg.uri, cancel_query_arg.jobid,
                 cancel_query_arg.jobower);
    std::fprintf(stderr, "cancel_query_arg point address:0x%x\n",
                 static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(&cancel_query_arg)));

    err_thread = pthread_create(&status_thread, nullptr, Printer_cancle_query_tread, &cancel_query_arg);
    if (err_thread != 0) {
        status_thread = 0;
        std::fprintf(stderr, "Trevant::Printer_cancle_query_tread Failed, err = %d\n", err_thread);
        return;
    }
    // Never joined: a watcher that ends before the job gives its resources
    // back at once instead of holding them until the process exits.
    pthread_detach(status_thread);
}

// The PJL lines that follow the job-name line.
std::string pjl_after_job_name(const std::string &host, const char *job_id)
{
    std::string lines = "@PJL SET JOBOWNER=\"" + host + "\"\r\n";
    lines += "@PJL SET JOBID=" + std::string(job_id) + "\r\n";
    if (isA5Page)
        lines += kA5Line;
    return lines;
}

// A pass ends at the end of its input, at a cancel cut, or at a write to the
// printer stream that failed: nothing more is written after that.
enum class PassEnd { Finished, Cut, WriteFailed };

struct Pass {
    std::string inserted;        // PJL lines after the job-name line; empty on replays
    bool rewrite = true;         // page-size and copy-count rewriting (not on replays)
    std::FILE *spool = nullptr;  // receives the rewritten lines of the first copy
    bool *spool_failed = nullptr; // set when the spool copy lost a line
};

void spool_line(const std::string &line, const Pass &pass)
{
    if (pass.spool == nullptr || *pass.spool_failed)
        return;
    if (std::fwrite(line.data(), 1, line.size(), pass.spool) != line.size() || std::fflush(pass.spool) != 0)
        *pass.spool_failed = true;
}

// One pass of the line procedure over `in`, from its current position.
PassEnd run_pass(std::FILE *in, const Pass &pass)
{
    varkon::LineReader reader(in);
    std::string line;
    bool in_copy_count = false;
    while (reader.next(line)) {
        varkon::insert_after_job_name(line, pass.inserted);
        if (job_canceled.load() && cut_at_line(line))
            return PassEnd::Cut;
        if (pass.rewrite)
            FixPrnPageSize(line, width, height, in_copy_count);
        if (line.empty())
            continue;
        if (!varkon::write_stdout(line.data(), line.size()))
            return PassEnd::WriteFailed;
        spool_line(line, pass);
    }
    if (std::ferror(in)) {
        std::fputs("ERROR: Unable to read the print file.\n", stderr);
        varkon::mark_printer_stream_incomplete();
        return PassEnd::WriteFailed;
    }
    return PassEnd::Finished;
}

// The copy of the first rewritten copy that later copies replay. It sits next
// to the working file; a file of that name that the filter did not create is
// neither reused nor removed.
class SpoolCopy {
public:
    explicit SpoolCopy(const char *working_path) : path_(std::string(working_path) + "_m")
    {
        const int fd = open(path_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0)
            return;
        file_.reset(fdopen(fd, "w+b"));
        if (!file_) {
            close(fd);
            unlink(path_.c_str());
        }
    }
    ~SpoolCopy()
    {
        if (file_) {
            file_.reset();
            unlink(path_.c_str());
        }
    }
    SpoolCopy(const SpoolCopy &) = delete;
    SpoolCopy &operator=(const SpoolCopy &) = delete;

    std::FILE *get() const { return file_.get(); }

private:
    std::string path_;
    varkon::File file_;
};

void write_collated(std::FILE *in, const char *working_path, const std::string &inserted)
{
    const SpoolCopy spool(working_path);
    if (spool.get() == nullptr)
        std::fputs("Uable create temp file error! \n", stderr);
    bool spool_failed = false;
    // Without a spool copy every copy is read and rewritten anew.
    const int passes = spool.get() != nullptr ? 1 : std::max(copies, 1);
    int i = 0;
    for (; i < passes; ++i) {
        std::fprintf(stderr, "copies %d \n", i);
        std::rewind(in);
        if (run_pass(in, Pass{inserted, true, spool.get(), &spool_failed}) != PassEnd::Finished)
            return;
    }
    if (spool.get() == nullptr)
        return;
    // A spool copy that lost a line (a full disk) would replay a cut job: the
    // remaining copies are made from the working file like the first.
    if (spool_failed) {
        std::fputs("DEBUG: The copy for collation could not be written; making each copy anew.\n", stderr);
        for (; i < copies; ++i) {
            std::fprintf(stderr, "copies %d \n", i);
            std::rewind(in);
            if (run_pass(in, Pass{inserted, true, nullptr, nullptr}) != PassEnd::Finished)
                return;
        }
        return;
    }
    // The spool copy holds rewritten lines, PJL insertions included.
    for (i = 0; i < copies - 1; ++i) {
        std::fprintf(stderr, "copies %d \n", i + 1);
        std::rewind(spool.get());
        if (run_pass(spool.get(), Pass{std::string(), false, nullptr, nullptr}) != PassEnd::Finished)
            return;
    }
}

void write_jurvex_job(char **argv, const char *working_path, std::FILE *in)
{
    const std::string host = local_host_name();
    start_cancel_watcher(argv, host);
    const std::string inserted = pjl_after_job_name(host, argv[1] != nullptr ? argv[1] : "");
    if (iscollate)
        write_collated(in, working_path, inserted);
    else
        run_pass(in, Pass{inserted, true, nullptr, nullptr});
}

// --- Page-size lines ---

std::string page_dictionary_line(int w, int h)
{
    char text[96];
    std::snprintf(text, sizeof text, "<</Type/Page/MediaBox [0 0 %d %d]\n", w, h);
    return text;
}

std::string page_setup_line(int w, int h)
{
    char text[64];
    std::snprintf(text, sizeof text, "%d %d pdfSetupPaper\n", w, h);
    return text;
}

int replace_line(std::string &line, std::string replacement)
{
    line = std::move(replacement);
    std::fprintf(stderr, "%s\n", line.c_str());
    return 1;
}

} // namespace

bool varkon::write_stdout(const char *data, std::size_t length)
{
    // A write that takes nothing and reports nothing leaves errno at 0.
    errno = 0;
    if (write_all(1, data, length) == length)
        return true;
    // One line for the first failure; the writers stop at it.
    if (g_stream_complete)
        std::fprintf(stderr, "ERROR: Unable to write print data: %s\n",
                     errno != 0 ? std::strerror(errno) : "nothing was written");
    mark_printer_stream_incomplete();
    return false;
}

bool varkon::printer_stream_complete() { return g_stream_complete; }
void varkon::mark_printer_stream_incomplete() { g_stream_complete = false; }
void varkon::begin_printer_stream() { g_stream_complete = true; }

bool varkon::insert_after_job_name(std::string &line, const std::string &inserted)
{
    if (inserted.empty() || !contains(line, kJobNameLine))
        return false;
    line += inserted;
    return true;
}

void varkon::copy_blocks_to_stdout(std::FILE *file, bool report_write_errors)
{
    std::vector<char> block(kCopyBlockSize + 1, '\0');
    std::size_t n;
    while ((n = std::fread(block.data(), 1, kCopyBlockSize, file)) > 0) {
        if (job_canceled.load()) {
            int cut = 0;
            find_pageend(block.data(), static_cast<int>(n), &cut, 1);
            if (cut == kJobTrailerSize) {
                log_cut(block.data());
                return;
            }
        }
        if (!write_stdout(block.data(), n)) {
            if (report_write_errors)
                std::fputs("write file error! \n", stderr);
            return;
        }
    }
    if (std::ferror(file)) {
        std::fputs("ERROR: Unable to read the print file.\n", stderr);
        mark_printer_stream_incomplete();
    }
}

int find_pageend(char *block, int length, int *cutLength, int cancelled)
{
    *cutLength = 0;
    const std::string_view text(block, strnlen(block, static_cast<std::size_t>(std::max(length, 0))));
    if (varkon::contains(text, kSetupThenPage))
        return 0;
    const std::size_t page = text.find(kPageStart);
    if (page == std::string_view::npos)
        return 0;
    std::fputs("find page end\n", stderr);
    if (cancelled == 0)
        return 1;

    varkon::write_stdout(block, page);
    std::memset(block, 0, std::max(length, kJobTrailerSize + 1));
    std::memcpy(block, kJobTrailer, kJobTrailerSize);
    *cutLength = kJobTrailerSize;
    if (!varkon::write_stdout(kJobTrailer, kJobTrailerSize))
        std::fputs("Write data error:", stderr);
    return 1;
}

int FixPrnPageSize(std::string &line, int w, int h, bool &state)
{
    using varkon::contains_nocase;
    if (contains_nocase(line, "<</Type/Page/MediaBox [0 0"))
        return w != 0 && h != 0 ? replace_line(line, page_dictionary_line(w, h)) : 0;
    if (contains_nocase(line, "/pdfSetupPaper"))
        return 0; // the procedure's definition, not a call
    if (contains_nocase(line, "pdfSetupPaper"))
        return w != 0 && h != 0 ? replace_line(line, page_setup_line(w, h)) : 0;
    if (iscollate && contains_nocase(line, "%RBIBeginNonPPDFeature: *NumCopies")) {
        state = true;
        line.clear();
        return 1;
    }
    if (iscollate && contains_nocase(line, "%RBIEndNonPPDFeature")) {
        state = false;
        line.clear();
        return 1;
    }
    if (iscollate && state) {
        line.clear();
        return 1;
    }
    const std::size_t dict = varkon::find_nocase(line, "<<DeferredMediaSelection");
    if (dict != std::string::npos && contains_nocase(line, ">>setpagedevice")) {
        line.insert(dict + 2, 1, '/');
        std::fputs("Modified <</DeferredMediaSelection\n", stderr);
        return 1;
    }
    return 0;
}

int checkmediasize(char **argv, int /*ignored*/, int *w, int *h)
{
    if (argv == nullptr || argv[5] == nullptr || w == nullptr || h == nullptr)
        return 0;
    const varkon::JobOptions options(argv[5]);
    const char *size = options.get("PageSize");
    if (size == nullptr)
        return 0;
    const varkon::PpdFile ppd = varkon::open_job_ppd();
    if (!ppd)
        return 1;
    if (const ppd_size_t *found = ppdPageSize(ppd.get(), size)) {
        *w = static_cast<int>(found->width);
        *h = static_cast<int>(found->length);
        std::fprintf(stderr, "pagesize:%s width:%d,heigh:%d\n", varkon::loggable_printer_text(size).c_str(), *w, *h);
    }
    return 1;
}

void WritePSdataToStdout(char **argv, const char *workingPath)
{
    const varkon::File file(workingPath != nullptr ? std::fopen(workingPath, "rb") : nullptr);
    if (!file) {
        std::fputs("Uable open temp file error! \n", stderr);
        std::fputs("ERROR: Unable to open the print file.\n", stderr);
        varkon::mark_printer_stream_incomplete();
        return;
    }
    if (isjurvex)
        write_jurvex_job(argv, workingPath, file.get());
    else
        varkon::copy_blocks_to_stdout(file.get(), true);
}
