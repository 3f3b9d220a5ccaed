// SPDX-License-Identifier: GPL-2.0-or-later
// Times one IPP job from its submission to its end, for the Printer
// Application's pages per second:
//   varkon-bench-ipp-job PRINTER_URI FILE FORMAT [JOB_NAME]
// prints "SECONDS JOB_STATE IMPRESSIONS" (job-state 9 is completed). The job
// is polled with Get-Job-Attributes every 5 ms on the connection that sent it.
#include <cups/cups.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

namespace {

struct IppDeleter {
    void operator()(ipp_t *ipp) const { ippDelete(ipp); }
};
using Ipp = std::unique_ptr<ipp_t, IppDeleter>;

int integer(ipp_t *response, const char *name)
{
    ipp_attribute_t *attr = ippFindAttribute(response, name, IPP_TAG_ZERO);
    return attr != nullptr ? ippGetInteger(attr, 0) : 0;
}

ipp_t *request(ipp_op_t op, const char *uri)
{
    ipp_t *r = ippNewRequest(op);
    ippAddString(r, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri);
    ippAddString(r, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, "bench");
    return r;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 4 || argc > 5) {
        std::fprintf(stderr, "usage: %s PRINTER_URI FILE FORMAT [JOB_NAME]\n", argv[0]);
        return 2;
    }
    const char *uri = argv[1];
    char scheme[32], user[64], host[256], resource[1024];
    int port = 0;
    if (httpSeparateURI(HTTP_URI_CODING_ALL, uri, scheme, sizeof scheme, user, sizeof user, host, sizeof host, &port,
                        resource, sizeof resource) < HTTP_URI_STATUS_OK) {
        std::fprintf(stderr, "%s: bad printer URI %s\n", argv[0], uri);
        return 2;
    }
    http_t *http = httpConnect2(host, port, nullptr, AF_UNSPEC, HTTP_ENCRYPTION_NEVER, 1, 30000, nullptr);
    if (http == nullptr) {
        std::fprintf(stderr, "%s: cannot connect to %s:%d\n", argv[0], host, port);
        return 1;
    }
    const auto start = std::chrono::steady_clock::now();
    ipp_t *job = request(IPP_OP_PRINT_JOB, uri);
    ippAddString(job, IPP_TAG_OPERATION, IPP_TAG_MIMETYPE, "document-format", nullptr, argv[3]);
    ippAddString(job, IPP_TAG_OPERATION, IPP_TAG_NAME, "job-name", nullptr, argc == 5 ? argv[4] : "bench");
    const Ipp submitted(cupsDoFileRequest(http, job, resource, argv[2]));
    if (!submitted || ippGetStatusCode(submitted.get()) > IPP_STATUS_OK_CONFLICTING) {
        std::fprintf(stderr, "%s: Print-Job: %s\n", argv[0], cupsLastErrorString());
        httpClose(http);
        return 1;
    }
    const int id = integer(submitted.get(), "job-id");
    int state = 0, impressions = 0;
    while (state < IPP_JSTATE_CANCELED) {
        ipp_t *get = request(IPP_OP_GET_JOB_ATTRIBUTES, uri);
        ippAddInteger(get, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "job-id", id);
        const Ipp status(cupsDoRequest(http, get, resource));
        if (!status || ippGetStatusCode(status.get()) > IPP_STATUS_OK_CONFLICTING) {
            std::fprintf(stderr, "%s: Get-Job-Attributes: %s\n", argv[0], cupsLastErrorString());
            httpClose(http);
            return 1;
        }
        state = integer(status.get(), "job-state");
        impressions = integer(status.get(), "job-impressions-completed");
        if (state < IPP_JSTATE_CANCELED)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%.4f %d %d\n", seconds, state, impressions);
    httpClose(http);
    return state == IPP_JSTATE_COMPLETED ? 0 : 1;
}
