// SPDX-License-Identifier: GPL-2.0-or-later
// Test backend: the device of a test queue. CUPS hands it the job's printer
// data, which it writes to a file instead of a printer, and it answers the
// filters' side-channel questions the way a printer's backend would.
//
// Device URI: varkontest:/abs/path/out.prn?device-id=<IEEE 1284 device ID>
//   - the path is absolute; one ending in '/' names a directory, and each job
//     then goes to job-<id>.prn in it;
//   - the data is written to <file>.part and renamed to <file> once all of it
//     has arrived, so a file that exists is complete;
//   - device-id (percent-encoded where needed) is what CUPS_SC_CMD_GET_DEVICE_ID
//     returns; every other side-channel command, and the device ID when none
//     is given, is answered with CUPS_SC_STATUS_NOT_IMPLEMENTED.
// Run without arguments it lists itself for lpinfo -v.
#include "hex_digit.h"
#include "write_all.h"

#include <cups/backend.h>
#include <cups/sidechannel.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr char kScheme[] = "varkontest:";

// Replies of more than this would not fit the usual 1284 buffers of a filter.
constexpr size_t kMaxDeviceId = 1023;

struct DeviceUri {
    std::string path;
    std::string device_id;
};

// %XX escapes decoded; a malformed escape fails the whole text.
bool percent_decode(const std::string &in, std::string *out)
{
    out->clear();
    for (size_t i = 0; i < in.size(); ++i) {
        if (in[i] != '%') {
            *out += in[i];
            continue;
        }
        if (i + 2 >= in.size())
            return false;
        const int hi = varkon::hex_digit_value(in[i + 1]), lo = varkon::hex_digit_value(in[i + 2]);
        if (hi < 0 || lo < 0)
            return false;
        *out += static_cast<char>(hi * 16 + lo);
        i += 2;
    }
    return true;
}

bool parse_uri(const std::string &uri, DeviceUri *out)
{
    if (uri.compare(0, sizeof kScheme - 1, kScheme) != 0)
        return false;
    std::string rest = uri.substr(sizeof kScheme - 1);
    // "varkontest:///path" is the same as "varkontest:/path".
    if (rest.compare(0, 3, "///") == 0)
        rest.erase(0, 2);
    const size_t query = rest.find('?');
    if (!percent_decode(rest.substr(0, query), &out->path) || out->path.empty() || out->path[0] != '/')
        return false;
    out->device_id.clear();
    if (query == std::string::npos)
        return true;
    const std::string params = rest.substr(query + 1);
    for (size_t start = 0; start <= params.size();) {
        size_t end = params.find('&', start);
        if (end == std::string::npos)
            end = params.size();
        const std::string param = params.substr(start, end - start);
        if (param.compare(0, 10, "device-id=") == 0 && !percent_decode(param.substr(10), &out->device_id))
            return false;
        start = end + 1;
    }
    return out->device_id.size() <= kMaxDeviceId;
}

// The job id becomes part of a file name, so it must be the number CUPS gives.
bool output_file(const std::string &path, const char *job_id, std::string *out)
{
    if (path.back() != '/') {
        *out = path;
        return true;
    }
    if (*job_id == '\0' || std::strspn(job_id, "0123456789") != std::strlen(job_id))
        return false;
    *out = path + "job-" + job_id + ".prn";
    return true;
}

// One side-channel request, one answer.
void answer_side_channel(const DeviceUri &device)
{
    cups_sc_command_t command;
    cups_sc_status_t status;
    char data[2048];
    int length = sizeof data;
    if (cupsSideChannelRead(&command, &status, data, &length, 1.0) != 0)
        return;
    if (command == CUPS_SC_CMD_GET_DEVICE_ID && !device.device_id.empty()) {
        std::fprintf(stderr, "DEBUG: varkontest: device ID requested, answering \"%s\"\n", device.device_id.c_str());
        cupsSideChannelWrite(command, CUPS_SC_STATUS_OK, device.device_id.data(),
                             static_cast<int>(device.device_id.size()), 1.0);
        return;
    }
    std::fprintf(stderr, "DEBUG: varkontest: side-channel command %d not implemented\n", static_cast<int>(command));
    cupsSideChannelWrite(command, CUPS_SC_STATUS_NOT_IMPLEMENTED, nullptr, 0, 1.0);
}

volatile sig_atomic_t g_terminated = 0;

void on_sigterm(int) { g_terminated = 1; }

// Copies the input to `out` until its end, answering the side channel meanwhile.
// -1 on a read or write error, else the byte count.
long long copy_job(int in, int out, bool side_channel, const DeviceUri &device)
{
    long long total = 0;
    char buffer[65536];
    while (!g_terminated) {
        pollfd fds[2] = {{in, POLLIN, 0}, {CUPS_SC_FD, POLLIN, 0}};
        if (poll(fds, side_channel ? 2 : 1, 1000) < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        if (side_channel && (fds[1].revents & POLLIN))
            answer_side_channel(device);
        if (fds[0].revents == 0)
            continue;
        const ssize_t n = read(in, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        if (varkon::write_all(out, buffer, static_cast<size_t>(n)) != static_cast<size_t>(n))
            return -1;
        total += n;
    }
    return total;
}

int list_device()
{
    std::puts("direct varkontest \"Unknown\" \"Varkon test backend (writes the job to a file)\"");
    return CUPS_BACKEND_OK;
}

} // namespace

int main(int argc, char **argv)
{
    setbuf(stderr, nullptr);
    if (argc == 1)
        return list_device();
    if (argc != 6 && argc != 7) {
        std::fputs("Usage: varkontest job-id user title copies options [file]\n", stderr);
        return CUPS_BACKEND_FAILED;
    }

    const char *uri = std::getenv("DEVICE_URI");
    DeviceUri device;
    if (!parse_uri(uri != nullptr ? uri : argv[0], &device)) {
        std::fprintf(stderr, "ERROR: varkontest: bad device URI \"%s\"\n", uri != nullptr ? uri : argv[0]);
        return CUPS_BACKEND_FAILED;
    }

    // Asked before any file is opened: without a side channel, descriptor 4
    // may well become one of the backend's own files.
    const bool side_channel = fcntl(CUPS_SC_FD, F_GETFD) != -1;

    // Reading the filters' output, keep going after a cancel, as printer
    // backends do, so that what a filter sends after SIGTERM is kept too.
    if (argc == 6)
        signal(SIGTERM, SIG_IGN);
    else
        signal(SIGTERM, on_sigterm);
    const int in = argc == 7 ? open(argv[6], O_RDONLY | O_CLOEXEC) : 0;
    if (in < 0) {
        std::fprintf(stderr, "ERROR: varkontest: cannot open %s: %s\n", argv[6], std::strerror(errno));
        return CUPS_BACKEND_FAILED;
    }

    std::string target;
    if (!output_file(device.path, argv[1], &target)) {
        std::fprintf(stderr, "ERROR: varkontest: job id \"%s\" is not a number\n", argv[1]);
        return CUPS_BACKEND_FAILED;
    }
    const std::string partial = target + ".part";
    const int out = open(partial.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (out < 0) {
        std::fprintf(stderr, "ERROR: varkontest: cannot create %s: %s\n", partial.c_str(), std::strerror(errno));
        return CUPS_BACKEND_FAILED;
    }
    const long long total = copy_job(in, out, side_channel, device);
    const bool closed = close(out) == 0;
    if (total < 0 || !closed || g_terminated) {
        std::fprintf(stderr, "ERROR: varkontest: job data for %s not complete\n", target.c_str());
        unlink(partial.c_str());
        return CUPS_BACKEND_FAILED;
    }
    if (rename(partial.c_str(), target.c_str()) != 0) {
        std::fprintf(stderr, "ERROR: varkontest: cannot rename %s: %s\n", partial.c_str(), std::strerror(errno));
        unlink(partial.c_str());
        return CUPS_BACKEND_FAILED;
    }
    std::fprintf(stderr, "INFO: varkontest: wrote %lld bytes to %s\n", total, target.c_str());
    return CUPS_BACKEND_OK;
}
