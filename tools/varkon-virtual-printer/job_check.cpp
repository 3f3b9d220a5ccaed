// SPDX-License-Identifier: GPL-2.0-or-later
// Checking a received job with the decoder library, writing its pages and
// wording its report line.
#include "job_check.h"

#include "page_files.h"
#include "report_lines.h"
#include "varkon_decode.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace varkon {
namespace {

namespace decode = varkon::decode;

// Enough for the keep-alive pairs that may come before the first item.
constexpr size_t kPlatformHeadBytes = 4096;

std::string pages_text(size_t count) { return std::to_string(count) + (count == 1 ? " page" : " pages"); }

// The platform of a job that is not decoded, told from its first bytes.
const char *spooled_platform(const JobSpool &spool)
{
    unsigned char head[kPlatformHeadBytes];
    const ssize_t n = spool.fd() >= 0 ? pread(spool.fd(), head, sizeof head, 0) : -1;
    return decode::platform_name(n > 0 ? decode::detect_platform(head, static_cast<size_t>(n))
                                       : decode::Platform::Unknown);
}

// Empty for a job its sender ended; else how and where it was cut.
std::string cut_text(const ReceivedJob &received)
{
    const std::string where = "cut after " + std::to_string(received.bytes) + " bytes: ";
    switch (received.end) {
    case JobEnd::Closed: return {};
    case JobEnd::Reset: return where + std::strerror(received.error);
    case JobEnd::PrinterFailed: return where + "the printer reset the connection";
    case JobEnd::Stopped: return where + "the printer was stopped";
    }
    return {};
}

// Writes each page as it is decoded; the job's folder appears with its first page.
struct PageWriter {
    std::string folder;  // empty: pages are not kept
    size_t written = 0;
    std::string error;   // the first failure; later pages are not tried

    void operator()(const decode::Page &page)
    {
        if (folder.empty() || !error.empty())
            return;
        if (written == 0 && mkdir(folder.c_str(), 0755) != 0) {
            error = "cannot create " + folder + ": " + std::strerror(errno);
            return;
        }
        ++written;
        error = decode::write_png(page, folder + "/" + decode::page_file_name(written, "png"));
    }
};

// A job that is not checked keeps no files; `failed` when that is the printer's fault.
JobReport dropped_job(const std::string &head, const ReceivedJob &received, const std::string &why, bool failed,
                      JobSpool &spool)
{
    JobReport report;
    report.line = head + why + " (" + std::to_string(received.bytes) + " bytes received), dropped";
    report.files_failed = failed;
    spool.discard();
    return report;
}

} // namespace

std::string job_file_name(unsigned number)
{
    char name[32];
    std::snprintf(name, sizeof name, "job-%04u", number);
    return name;
}

JobReport check_job(unsigned number, const ReceivedJob &received, JobSpool &spool, const std::string &output_dir)
{
    const std::string head = "job " + std::to_string(number) + ": platform " + spooled_platform(spool) + ", ";
    // The spool of a job that is too large stops at the limit.
    if (received.too_large)
        return dropped_job(head, received, "too large: over " + std::to_string(spool.size()) + " bytes", false, spool);
    if (!received.spool_error.empty())
        return dropped_job(head, received, "not checked: " + printable(received.spool_error), true, spool);

    MappedFile mapped;
    if (std::string error = mapped.map(spool.fd(), spool.size()); !error.empty())
        return dropped_job(head, received, "not checked: " + error, true, spool);
    PageWriter writer;
    if (!output_dir.empty())
        writer.folder = output_dir + "/" + job_file_name(number);
    decode::DecodeOptions options;
    options.keep_pixels = false;
    options.on_page = [&writer](const decode::Page &page) { writer(page); };
    const decode::DecodedStream stream = decode::decode_stream(mapped.data(), mapped.size(), options);

    JobReport report;
    report.line = "job " + std::to_string(number) + ": platform " + decode::platform_name(stream.platform) + ", " +
                  pages_text(stream.pages.size()) + ", ";
    const std::string cut = cut_text(received);
    if (stream.valid() && cut.empty())
        report.line += "valid";
    else if (stream.valid())
        report.line += "invalid: " + cut;
    else
        report.line += "invalid: " + printable(decode::format_violation(*stream.violation)) +
                       (cut.empty() ? "" : "; " + cut);
    if (!writer.error.empty()) {
        report.line += "; page files: " + printable(writer.error);
        report.files_failed = true;
    }
    return report;
}

} // namespace varkon
