// SPDX-License-Identifier: GPL-2.0-or-later
// The private Printer Application server of a test, and its IPP client side.
#include "printer_app_server.h"

#include <cups/cups.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <thread>

namespace varkon::test {

namespace {

using Clock = std::chrono::steady_clock;

int free_port()
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof addr;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &length) != 0)
        throw std::runtime_error("no free port");
    close(fd);
    return ntohs(addr.sin_port);
}

std::string program() { return built_program("printer-app/varkon-printer-app"); }

struct HttpCloser {
    void operator()(http_t *http) const { httpClose(http); }
};
using Http = std::unique_ptr<http_t, HttpCloser>;
struct IppDeleter {
    void operator()(ipp_t *ipp) const { ippDelete(ipp); }
};
using Ipp = std::unique_ptr<ipp_t, IppDeleter>;

Http connect(int port)
{
    return Http(httpConnect2("127.0.0.1", port, nullptr, AF_INET, HTTP_ENCRYPTION_NEVER, 1, 5000, nullptr));
}

ipp_t *job_request(ipp_op_t op, const std::string &uri, int jobId)
{
    ipp_t *request = ippNewRequest(op);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri.c_str());
    ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "job-id", jobId);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, "tester");
    return request;
}

std::string joined_strings(ipp_attribute_t *attr)
{
    std::string text;
    for (int i = 0; attr != nullptr && i < ippGetCount(attr); ++i) {
        if (!text.empty())
            text += ',';
        const char *value = ippGetString(attr, i, nullptr);
        text += value != nullptr ? value : "";
    }
    return text;
}

} // namespace

PrinterAppServer::PrinterAppServer(const std::string &stateDir)
{
    if (stateDir.empty()) {
        own_ = std::make_unique<TempDir>();
        dir_ = own_->path();
    } else {
        dir_ = stateDir;
    }
}

PrinterAppServer::~PrinterAppServer()
{
    stop();
    if (own_ && std::getenv("VARKON_KEEP_PRINTER_APP") != nullptr) {
        std::string kept = dir_ + "-kept";
        std::rename(dir_.c_str(), kept.c_str());
        std::fprintf(stderr, "printer application state kept in %s\n", kept.c_str());
    }
}

void PrinterAppServer::start()
{
    if (port_ == 0)
        port_ = free_port();
    status_ = -1;
    std::vector<std::string> argv = {program(),
                                     "server",
                                     "-o",
                                     "server-port=" + std::to_string(port_),
                                     "-o",
                                     "log-level=debug",
                                     "-o",
                                     "log-file=" + dir_ + "/server.log"};
    for (const std::string &option : serverOptions_) {
        argv.push_back("-o");
        argv.push_back(option);
    }
    pid_ = fork();
    if (pid_ == 0) {
        setenv("SNAP_COMMON", dir_.c_str(), 1);
        // A sanitized server checks its own memory at its end, not PAPPL's.
        setenv("LSAN_OPTIONS",
               "suppressions=" VARKON_SOURCE_DIR "/tests/integration/printer-app/support/pappl-leaks.supp", 1);
        const int out = open((dir_ + "/server.out").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        dup2(out, 1);
        dup2(out, 2);
        std::vector<char *> args;
        for (const std::string &arg : argv)
            args.push_back(const_cast<char *>(arg.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    while (Clock::now() < deadline) {
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            throw std::runtime_error("the server ended at its start:\n" + log());
        }
        if (connect(port_) && access((dir_ + "/varkon-printer-app.sock").c_str(), F_OK) == 0)
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    stop();
    throw std::runtime_error("the server does not answer:\n" + log());
}

int PrinterAppServer::stop()
{
    if (pid_ <= 0)
        return -1;
    kill(pid_, SIGTERM);
    int status = 0;
    const auto deadline = Clock::now() + std::chrono::seconds(15);
    while (waitpid(pid_, &status, WNOHANG) == 0) {
        if (Clock::now() > deadline) {
            kill(pid_, SIGKILL);
            waitpid(pid_, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    pid_ = -1;
    status_ = status;
    return status;
}

bool PrinterAppServer::running()
{
    int status = 0;
    if (pid_ > 0 && waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        status_ = status;
    }
    return pid_ > 0;
}

std::string PrinterAppServer::printer_uri(const std::string &printer) const
{
    return "ipp://127.0.0.1:" + std::to_string(port_) + "/ipp/print/" + printer;
}

std::string PrinterAppServer::log() const
{
    std::string text;
    for (const char *name : {"/server.out", "/server.log"})
        if (access((dir_ + name).c_str(), F_OK) == 0)
            text += read_file(dir_ + name);
    return text;
}

ProcessResult PrinterAppServer::command(const std::vector<std::string> &args) const
{
    std::vector<std::string> argv = {program()};
    argv.insert(argv.end(), args.begin(), args.end());
    ProcessOptions options;
    options.env.push_back("SNAP_COMMON=" + dir_);
    // PAPPL's own sub-command code leaves option arrays unfreed at its exit;
    // a sanitized build would fail every command on that.
    options.env.push_back("ASAN_OPTIONS=detect_leaks=0");
    options.timeout_ms = 30000;
    return run_process(argv, options);
}

void PrinterAppServer::add_printer(const std::string &name, const std::string &driver,
                                   const std::string &deviceUri) const
{
    const ProcessResult r = command({"add", "-d", name, "-m", driver, "-v", deviceUri});
    if (r.exit_code != 0)
        throw std::runtime_error("add " + name + ": " + r.out + r.err);
}

int PrinterAppServer::submit(const std::string &printer, const std::string &file, const std::string &format,
                             const std::vector<std::pair<std::string, std::string>> &attributes,
                             std::string *error) const
{
    const Http http = connect(port_);
    if (!http) {
        if (error != nullptr)
            *error = "no connection";
        return -1;
    }
    ipp_t *request = ippNewRequest(IPP_OP_PRINT_JOB);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, printer_uri(printer).c_str());
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, "tester");
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_MIMETYPE, "document-format", nullptr, format.c_str());
    int count = 0;
    cups_option_t *options = nullptr;
    for (const auto &[name, value] : attributes) {
        if (name == "job-name")
            ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "job-name", nullptr, value.c_str());
        else
            count = cupsAddOption(name.c_str(), value.c_str(), count, &options);
    }
    cupsEncodeOptions2(request, count, options, IPP_TAG_JOB);
    cupsFreeOptions(count, options);
    const std::string path = "/ipp/print/" + printer;
    const Ipp response(cupsDoFileRequest(http.get(), request, path.c_str(), file.c_str()));
    if (!response || ippGetStatusCode(response.get()) > IPP_STATUS_OK_CONFLICTING) {
        if (error != nullptr)
            *error = cupsLastErrorString();
        return -1;
    }
    ipp_attribute_t *id = ippFindAttribute(response.get(), "job-id", IPP_TAG_INTEGER);
    return id != nullptr ? ippGetInteger(id, 0) : -1;
}

JobStatus PrinterAppServer::job_status(const std::string &printer, int jobId) const
{
    JobStatus status;
    const Http http = connect(port_);
    if (!http)
        return status;
    const std::string path = "/ipp/print/" + printer;
    const Ipp response(
        cupsDoRequest(http.get(), job_request(IPP_OP_GET_JOB_ATTRIBUTES, printer_uri(printer), jobId), path.c_str()));
    if (!response)
        return status;
    if (ipp_attribute_t *a = ippFindAttribute(response.get(), "job-state", IPP_TAG_ENUM))
        status.state = ippGetInteger(a, 0);
    status.reasons = joined_strings(ippFindAttribute(response.get(), "job-state-reasons", IPP_TAG_KEYWORD));
    status.message = joined_strings(ippFindAttribute(response.get(), "job-state-message", IPP_TAG_TEXT));
    if (ipp_attribute_t *a = ippFindAttribute(response.get(), "job-impressions-completed", IPP_TAG_INTEGER))
        status.impressions = ippGetInteger(a, 0);
    return status;
}

JobStatus PrinterAppServer::wait_for_job(const std::string &printer, int jobId, int timeoutMs) const
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    JobStatus status;
    while (Clock::now() < deadline) {
        status = job_status(printer, jobId);
        if (status.state >= IPP_JSTATE_CANCELED)
            return status;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    status.state = 0;
    status.message = "timed out";
    return status;
}

bool PrinterAppServer::cancel_job(const std::string &printer, int jobId) const
{
    const Http http = connect(port_);
    if (!http)
        return false;
    const std::string path = "/ipp/print/" + printer;
    const Ipp response(cupsDoRequest(http.get(), job_request(IPP_OP_CANCEL_JOB, printer_uri(printer), jobId),
                                     path.c_str()));
    return response && ippGetStatusCode(response.get()) <= IPP_STATUS_OK_CONFLICTING;
}

std::string PrinterAppServer::printer_attribute(const std::string &printer, const std::string &name) const
{
    const Http http = connect(port_);
    if (!http)
        return {};
    ipp_t *request = ippNewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, printer_uri(printer).c_str());
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr, name.c_str());
    const std::string path = "/ipp/print/" + printer;
    const Ipp response(cupsDoRequest(http.get(), request, path.c_str()));
    ipp_attribute_t *attr = response ? ippFindAttribute(response.get(), name.c_str(), IPP_TAG_ZERO) : nullptr;
    if (attr == nullptr)
        return {};
    char text[1024];
    ippAttributeString(attr, text, sizeof text);
    return text;
}

std::string device_file(const std::string &directory, const std::string &jobName)
{
    return directory + "/" + jobName + ".prn";
}

} // namespace varkon::test
