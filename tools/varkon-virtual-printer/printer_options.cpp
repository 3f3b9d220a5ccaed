// SPDX-License-Identifier: GPL-2.0-or-later
// Parsing the virtual printer's options, sizes with an optional K, M or G suffix.
#include "printer_options.h"

#include <getopt.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace varkon {
namespace {

constexpr unsigned kMaxDelayMs = 60000;
constexpr unsigned kMaxJobs = 1000000;
constexpr uint64_t kMaxBytes = 1ull << 40;

constexpr char kUsage[] =
    "Usage: varkon-virtual-printer [OPTIONS]\n"
    "A network printer for tests: takes each TCP connection as one job of a Varkon\n"
    "printer stream (platform C, Z or M), checks it the way the printer does and\n"
    "prints one line per job on standard output.\n"
    "\n"
    "      --listen ADDR         numeric address to listen on (default 127.0.0.1)\n"
    "      --port N              TCP port (default 9100; 0 picks a free one)\n"
    "  -o, --output DIR          keep each job as DIR/job-0001.prn and its pages\n"
    "                            as DIR/job-0001/page-001.png ...\n"
    "      --max-job-bytes SIZE  larger jobs are drained and dropped (default 512M)\n"
    "      --jobs N              end after N jobs\n"
    "      --fail-after SIZE     reset each connection once a job goes past SIZE bytes\n"
    "      --delay-ms MS         wait MS milliseconds before each read, like a slow printer\n"
    "  -h, --help                show this help and exit\n"
    "\n"
    "SIZE is a number of bytes with an optional K, M or G suffix (powers of 1024).\n"
    "SIGTERM or SIGINT ends it once the jobs under way are in; a second one cuts them.\n"
    "Exit status: 0 when done, 1 when files of a job could not be written,\n"
    "2 for a wrong command line or when it cannot listen.\n";

enum OptionCode { kListen = 256, kPort, kMaxJobBytes, kJobs, kFailAfter, kDelayMs };

int usage_error(const char *text, const char *value = nullptr)
{
    if (value)
        std::fprintf(stderr, "varkon-virtual-printer: %s: '%s'\nTry 'varkon-virtual-printer --help'.\n", text, value);
    else
        std::fprintf(stderr, "varkon-virtual-printer: %s\nTry 'varkon-virtual-printer --help'.\n", text);
    return kExitUsage;
}

// Digits only, so that "-1" or "12x" are refused instead of wrapping or being cut short.
bool parse_number(const char *text, uint64_t max, uint64_t &value, bool size_suffix = false)
{
    if (*text < '0' || *text > '9')
        return false;
    char *end = nullptr;
    errno = 0;
    unsigned long long number = std::strtoull(text, &end, 10);
    if (errno != 0)
        return false;
    unsigned shift = 0;
    if (size_suffix && *end != '\0' && end[1] == '\0') {
        switch (*end) {
        case 'K': case 'k': shift = 10; break;
        case 'M': case 'm': shift = 20; break;
        case 'G': case 'g': shift = 30; break;
        default: return false;
        }
        ++end;
    }
    if (*end != '\0' || number > (max >> shift))
        return false;
    value = number << shift;
    return true;
}

bool parse_unsigned(const char *text, unsigned max, unsigned &value)
{
    uint64_t number = 0;
    if (!parse_number(text, max, number))
        return false;
    value = static_cast<unsigned>(number);
    return true;
}

// Returns -1 when the option was taken, else the exit status.
int take_option(int code, const char *value, PrinterOptions &options)
{
    switch (code) {
    case kListen: options.listen_address = value; break;
    case kPort:
        if (!parse_unsigned(value, 65535, options.port))
            return usage_error("--port takes 0 to 65535", value);
        break;
    case 'o':
        if (*value == '\0')
            return usage_error("--output needs a folder name");
        options.output_dir = value;
        break;
    case kMaxJobBytes:
        if (!parse_number(value, kMaxBytes, options.max_job_bytes, true) || options.max_job_bytes == 0)
            return usage_error("--max-job-bytes takes a size from 1 byte to 1024G", value);
        break;
    case kJobs:
        if (!parse_unsigned(value, kMaxJobs, options.jobs) || options.jobs == 0)
            return usage_error("--jobs takes 1 to 1000000", value);
        break;
    case kFailAfter:
        if (!parse_number(value, kMaxBytes, options.fail_after, true) || options.fail_after == 0)
            return usage_error("--fail-after takes a size from 1 byte to 1024G", value);
        break;
    case kDelayMs:
        if (!parse_unsigned(value, kMaxDelayMs, options.delay_ms))
            return usage_error("--delay-ms takes 0 to 60000", value);
        break;
    case 'h': std::fputs(kUsage, stdout); return kExitDone;
    default: return usage_error("unknown option");
    }
    return -1;
}

} // namespace

int parse_printer_options(int argc, char **argv, PrinterOptions &options)
{
    static const option kOptions[] = {
        {"listen", required_argument, nullptr, kListen},
        {"port", required_argument, nullptr, kPort},
        {"output", required_argument, nullptr, 'o'},
        {"max-job-bytes", required_argument, nullptr, kMaxJobBytes},
        {"jobs", required_argument, nullptr, kJobs},
        {"fail-after", required_argument, nullptr, kFailAfter},
        {"delay-ms", required_argument, nullptr, kDelayMs},
        {"help", no_argument, nullptr, 'h'},
        {nullptr, 0, nullptr, 0},
    };
    int code;
    while ((code = getopt_long(argc, argv, "o:h", kOptions, nullptr)) != -1)
        if (int status = take_option(code, optarg, options); status >= 0)
            return status;
    if (optind < argc)
        return usage_error("no arguments besides the options", argv[optind]);
    return -1;
}

} // namespace varkon
