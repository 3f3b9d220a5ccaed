// SPDX-License-Identifier: GPL-2.0-or-later
// Filter entry and job flow of pstoVarkon.
#include "job_flow.h"

#include "device_id_query.h"
#include "job_state.h"
#include "liaison.h"
#include "line_reader.h"
#include "page_size_admission.h"
#include "pdf_path.h"
#include "printer_families.h"
#include "signal_handler.h"
#include "stream_rewriting.h"
#include "temp_file.h"
#include "text_search.h"

#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

// Shows a localised message with a prefix, the way the CUPS tools do.
extern "C" void _cupsLangPrintError(const char *prefix, const char *message);

namespace {

// How often a wait for input looks at the cancel flag.
constexpr int kInputPollMs = 100;
constexpr std::string_view kUel = "%-12345X";
// End of the PostScript job, then the PJL universal exit.
constexpr char kEndOfJob[] = "\x04\x1b%-12345X\n";
static_assert(sizeof kEndOfJob - 1 == 11, "end-of-job sequence is 11 bytes");

void install_cancel_handler()
{
    // Reads of the input and waits for the PDF tools go on after the signal.
    varkon::install_signal_handler(SIGTERM, cancel_job, SA_RESTART);
    // A printer stream closed early must show as a failed write that the job
    // reports, not end the filter before it has removed its files.
    varkon::install_signal_handler(SIGPIPE, SIG_IGN);
}

// Waits until standard input has data or has ended; false once the job is
// cancelled, so that a feeder that never closes its end cannot hold a
// cancelled job.
bool input_ready()
{
    for (;;) {
        if (job_canceled.load())
            return false;
        pollfd input{0, POLLIN, 0};
        const int ready = poll(&input, 1, kInputPollMs);
        if (ready > 0 || (ready < 0 && errno != EINTR))
            return true; // read() tells data, end or error apart
    }
}

// The working file and whether the filter must remove it at the end.
struct WorkingFile {
    char path[kWorkingPathField] = {};
    char **argv = nullptr;

    ~WorkingFile()
    {
        if (path[0] != '\0' && varkon::filter_owns(path, argv))
            unlink(path);
    }
};

bool take_input(int argc, char **argv, WorkingFile &working)
{
    if (argc == 6) {
        char path[kStdinCopyPathField] = {};
        if (!Copy_StdinToTempFile(path))
            return false; // nothing to print: already reported
        std::snprintf(working.path, sizeof working.path, "%s", path);
        return true;
    }
    if (std::strlen(argv[6]) >= sizeof working.path) {
        std::fputs("ERROR: The name of the input file is too long.\n", stderr);
        return false;
    }
    std::snprintf(working.path, sizeof working.path, "%s", argv[6]);
    return true;
}

// Jurvex preparation: page size, collation, admission, A5; false when refused.
bool prepare_jurvex_job(char **argv, const char *working_path)
{
    int w = 0, h = 0;
    checkmediasize(argv, 0, &w, &h);
    width = w;
    height = h;
    if (varkon::wants_filter_collation(argv[5])) {
        iscollate = 1;
        copies = std::atoi(argv[4]);
    }
    if (isSupportCustomPageSize(argv[5], working_path) != 1) {
        sleep(1);
        _cupsLangPrintError("ERROR", "The current custom pager cannot be printed,please use the corrent paper\n");
        return false;
    }
    if (isA5PageSize(argv[5], working_path))
        isA5Page = 1;
    return true;
}

// False when the document could not be converted: the job printed nothing.
// A cancelled job that stopped the tools is no failure.
bool print_halvex_job(char **argv, char *working_path)
{
    CreatRotateDuplex(argv, working_path);
    bool converted = pdf2ps(working_path, argv) == 1;
    if (converted) {
        Creatpthread(argv);
        WritePrintFileToStdout(working_path, argv);
    } else {
        std::fputs("DEBUG: fail to change file from pdf to ps.\n", stderr);
        if (!job_canceled.load())
            std::fputs("ERROR: Unable to convert the PDF document to PostScript.\n", stderr);
    }
    Waitpthread();
    return converted || job_canceled.load();
}

// The printer stream is complete only once descriptor 1 is closed without error.
bool close_printer_stream()
{
    if (close(1) == 0 || errno == EINTR)
        return true;
    std::fprintf(stderr, "ERROR: Unable to write print data: %s\n", std::strerror(errno));
    return false;
}

int run_job(int argc, char **argv)
{
    if (argc != 6 && argc != 7) {
        std::fprintf(stderr, "ERROR: Usage: %s job-id user title copies options [file]\n",
                     argc > 0 && argv[0] != nullptr ? argv[0] : "pstoVarkon");
        return 1;
    }
    varkon::begin_printer_stream();
    char device_id[kDeviceIdField] = {};
    int length = static_cast<int>(kDeviceIdField) - 1;
    bool have_id = query1284info(device_id, &length);
    isJurvexPrinter(device_id, have_id);

    WorkingFile working;
    working.argv = argv;
    if (!take_input(argc, argv, working))
        return 1;
    if (isjurvex && !prepare_jurvex_job(argv, working.path))
        return 1;

    length = static_cast<int>(kDeviceIdField) - 1;
    have_id = query1284info(device_id, &length);
    bool printed = true;
    if (isHalvexPrinter(device_id, have_id))
        printed = print_halvex_job(argv, working.path);
    else
        WritePSdataToStdout(argv, working.path);
    // Exit 0 only when every byte meant for the printer was written.
    const bool complete = printed && varkon::printer_stream_complete();
    return close_printer_stream() && complete ? 0 : 1;
}

} // namespace

void cancel_job(int /*signal*/)
{
    const int saved_errno = errno;
    job_canceled.store(1);
    static constexpr char kMessage[] = "cancel_job =1\n";
    const ssize_t written = write(2, kMessage, sizeof kMessage - 1);
    static_cast<void>(written);
    errno = saved_errno;
}

int Copy_StdinToTempFile(char *path)
{
    varkon::TempFile copy(kStdinCopyPathField);
    if (!copy.valid()) {
        const int error = errno;
        std::fputs("DEBUG: Unable to creat temp file.\n", stderr);
        std::fprintf(stderr, "ERROR: Unable to create a temporary file for the print data: %s\n",
                     std::strerror(error));
        return 0;
    }
    std::fprintf(stderr, "DEBUG:copying to temp print file \"%s\"\n", copy.path().c_str());

    std::vector<char> block(kCopyBlockSize + 1, '\0');
    std::size_t last = 0;
    while (input_ready()) {
        const ssize_t n = read(0, block.data(), kCopyBlockSize);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        last = static_cast<std::size_t>(n);
        const ssize_t written = write(copy.fd(), block.data(), last);
        if (written != n) {
            std::fprintf(stderr, "ERROR: Unable to copy the print data to a temporary file: %s\n",
                         written < 0 ? std::strerror(errno) : "the disk is full");
            return 0;
        }
    }
    // A job that does not end with the universal exit gets one, so that the
    // printer closes it; only the last block read is looked at.
    const std::string_view tail(block.data(), strnlen(block.data(), last));
    if (tail.size() > 9 && !varkon::contains_nocase(tail, kUel)) {
        const bool ok = write(copy.fd(), kEndOfJob, sizeof kEndOfJob - 1) == sizeof kEndOfJob - 1;
        std::fputs(kEndOfJob, stderr);
        if (!ok) {
            std::fputs("ERROR: Unable to copy the print data to a temporary file.\n", stderr);
            return 0;
        }
    }
    std::snprintf(path, kStdinCopyPathField, "%s", copy.release().c_str());
    return 1;
}

bool query1284info(char *deviceId, int *length)
{
    if (varkon::device_id_channel().ask(deviceId, length)) {
        deviceId[*length] = '\0';
        return true;
    }
    deviceId[0] = '\0';
    std::fputs("cups api can't find 1284 information.\n", stderr);
    return false;
}

void WritePrintFileToStdout(const char *path, char ** /*argv*/)
{
    const varkon::File file(path != nullptr ? std::fopen(path, "rb") : nullptr);
    if (!file) {
        std::fprintf(stderr, "DEBUG:Unable open a print file \"%s\"\n", path != nullptr ? path : "");
        std::fputs("ERROR: Unable to open the print file.\n", stderr);
        varkon::mark_printer_stream_incomplete();
        return;
    }
    varkon::copy_blocks_to_stdout(file.get(), false);
    std::fputs("DEBUG:Successfully write print file to stdout.\n", stderr);
}

bool varkon::wants_filter_collation(const char *options)
{
    return options != nullptr && contains_nocase(options, "collate") && !contains_nocase(options, "noCollate");
}

bool varkon::filter_owns(const char *path, char **argv)
{
    return !(argv != nullptr && argv[6] != nullptr && std::strcmp(path, argv[6]) == 0);
}

int varkon::run_pstoVarkon(int argc, char **argv)
{
    setbuf(stderr, nullptr);
    install_cancel_handler();
    try {
        return run_job(argc, argv);
    } catch (const std::bad_alloc &) {
        std::fputs("ERROR: Out of memory.\n", stderr);
        return 1;
    }
}
