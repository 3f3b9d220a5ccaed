// SPDX-License-Identifier: GPL-2.0-or-later
// Jobs that do not simply print, through a running server: a cancellation
// through IPP ends the stream after a whole page with the job end; a PWG
// raster cut inside a page or a header, or with lines of 2 GiB, a corrupt JPEG, a broken PDF and a page at a resolution the printer
// lacks each end their own job with a reason while the next job prints; a
// printer whose device goes away mid-job fails that job and the server goes
// on; jobs sent together to a folder printer each get their own whole file; a
// restart keeps the printers and their defaults.
#include "printer_app_documents.h"
#include "printer_app_server.h"

#include <cups/cups.h>
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstddef>
#include <chrono>
#include <thread>
#include <vector>

namespace {

using namespace varkon::test;
namespace decode = varkon::decode;

const PageBoxes kBoxes = {{0.3, 0.3, 0.7, 0.7}};

std::string read_if_there(const std::string &path) { return access(path.c_str(), F_OK) == 0 ? read_file(path) : ""; }

decode::DecodedStream decoded(const std::string &stream)
{
    return decode::decode_stream(reinterpret_cast<const unsigned char *>(stream.data()), stream.size());
}

// A server with one file:// printer of a model; each job's stream in out/<job name>.prn.
struct OnePrinter {
    TempDir files;
    std::string out = files.file("out");
    PrinterAppServer server;
    explicit OnePrinter(const std::string &driver)
    {
        mkdir(out.c_str(), 0700);
        server.start();
        server.add_printer("p", driver, "file://" + out);
    }
    std::string document(const std::string &name, const std::string &data)
    {
        write_file(files.file(name), data);
        return files.file(name);
    }
    int submit(const std::string &path, const std::string &format, const std::string &jobName,
               std::vector<std::pair<std::string, std::string>> attributes = {})
    {
        attributes.emplace_back("job-name", jobName);
        std::string error;
        const int id = server.submit("p", path, format, attributes, &error);
        EXPECT_GT(id, 0) << error;
        return id;
    }
    decode::DecodedStream stream(const std::string &jobName) { return decoded(read_file(device_file(out, jobName))); }
};

// Cancels the printer's first job once two of its pages are out, and checks
// what reached the printer. PAPPL prints a PWG raster while it receives it,
// so the Print-Job request runs on a thread of its own meanwhile.
void cancel_after_two_pages(const char *driver, const char *format)
{
    SCOPED_TRACE(std::string(driver) + " " + format);
    OnePrinter p(driver);
    const std::vector<PageBoxes> pages(60, kBoxes);
    const bool pdf = std::string(format) == "application/pdf";
    const std::string doc = pdf ? p.document("long.pdf", pdf_document(pages))
                                : p.document("long.pwg", raster_document(pages, CUPS_RASTER_WRITE_PWG));
    std::thread submitting([&] { p.server.submit("p", doc, format, {{"job-name", "long"}}); });
    const int id = 1; // the first job of a new server
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    JobStatus status;
    while ((status = p.server.job_status("p", id)).impressions < 2 && status.state < IPP_JSTATE_CANCELED &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const bool canceled = status.state < IPP_JSTATE_CANCELED && p.server.cancel_job("p", id);
    submitting.join();
    ASSERT_TRUE(canceled) << "the job ended before it could be cancelled: " << status.state;
    status = p.server.wait_for_job("p", id);
    EXPECT_TRUE(status.canceled()) << status.state << " " << status.message;
    const decode::DecodedStream s = p.stream("long");
    ASSERT_TRUE(s.valid()) << decode::format_violation(*s.violation);
    EXPECT_TRUE(s.job_ended) << decode::format_summary(s);
    EXPECT_GE(s.pages.size(), 2u);
    EXPECT_LT(s.pages.size(), pages.size());
    // The page under way at the cancellation is sent whole, white from there on,
    // as the filter does it; those before are as they went in.
    for (size_t i = 0; i + 1 < s.pages.size(); ++i)
        EXPECT_EQ(boxes_found(s.pages[i], kBoxes, {0.02, 0.02, 0.2, 0.2}), "") << "page " << i + 1;
}

TEST(PrinterAppJobs, CancelEndsTheStreamAfterAWholePageWithTheJobEnd)
{
    cancel_after_two_pages("varkon_belvar_210d", "image/pwg-raster");
    cancel_after_two_pages("varkon_oskel_301d", "application/pdf");
}

TEST(PrinterAppJobs, BadDocumentsEndTheirOwnJobWithAReason)
{
    OnePrinter p("varkon_nimbrel_41d");
    const std::string pwg = raster_document({kBoxes, kBoxes}, CUPS_RASTER_WRITE_PWG);
    struct Bad {
        const char *name, *format;
        std::string data;
        const char *reason; // a word of the job message
    };
    // The second page's header (PWG raster headers start with "PwgRaster"), and
    // one that asks for lines of nearly 2 GiB in its place.
    const size_t second = pwg.find("PwgRaster", pwg.find("PwgRaster") + 1);
    ASSERT_NE(second, std::string::npos);
    std::string huge = pwg.substr(second, sizeof(cups_page_header2_t));
    const auto put_big_endian = [&huge](size_t at, uint32_t value) {
        for (int n = 0; n < 4; ++n)
            huge[at + n] = static_cast<char>(value >> (24 - 8 * n));
    };
    put_big_endian(offsetof(cups_page_header2_t, cupsWidth), 0x7FFFFFF0);
    put_big_endian(offsetof(cups_page_header2_t, cupsBytesPerLine), 0x7FFFFFF0);
    const Bad bad[] = {
        {"cut", "image/pwg-raster", pwg.substr(0, pwg.size() * 3 / 4), "raster"},
        {"cut-in-a-header", "image/pwg-raster", pwg.substr(0, second + 100), "header of page 2"},
        {"2-GiB-lines", "image/pwg-raster", pwg.substr(0, second) + huge + std::string(64, '\x80'), "bytes"},
        {"jpeg", "image/jpeg", std::string("\xff\xd8\xff\xe0\x00\x10JFIF\x00\x01\x01", 13) + std::string(500, '\x17'),
         ""},
        {"pdf", "application/pdf", "%PDF-1.4\n1 0 obj << /Type /Catalog /Pages 9 0 R >> endobj\ntrailer <<>>\n%%EOF\n",
         ""},
        {"300dpi", "image/pwg-raster", raster_document({kBoxes}, CUPS_RASTER_WRITE_PWG, 300), "300x300 dpi"},
    };
    for (const Bad &b : bad) {
        SCOPED_TRACE(b.name);
        const int id = p.submit(p.document(b.name, b.data), b.format, b.name);
        const JobStatus status = p.server.wait_for_job("p", id);
        EXPECT_TRUE(status.aborted()) << status.state << " " << status.message;
        EXPECT_FALSE(status.message.empty());
        EXPECT_NE(status.message.find(b.reason), std::string::npos) << status.message;
        // What reached the printer, if anything, is a whole job: never a page at the wrong size.
        const std::string stream = read_if_there(device_file(p.out, b.name));
        if (!stream.empty()) {
            const decode::DecodedStream s = decoded(stream);
            EXPECT_TRUE(s.valid() && s.job_ended) << decode::format_summary(s);
        }
    }
    const int good = p.submit(p.document("good.pwg", pwg), "image/pwg-raster", "good");
    const JobStatus status = p.server.wait_for_job("p", good);
    ASSERT_TRUE(status.completed()) << status.message;
    EXPECT_EQ(p.stream("good").pages.size(), 2u);
}

// Takes one connection, reads `keep` bytes of it and hangs up: a printer
// switched off in the middle of a job.
class VanishingPrinter {
public:
    explicit VanishingPrinter(size_t keep) : keep_(keep)
    {
        fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof addr;
        bind(fd_, reinterpret_cast<sockaddr *>(&addr), sizeof addr);
        listen(fd_, 4);
        getsockname(fd_, reinterpret_cast<sockaddr *>(&addr), &length);
        port_ = ntohs(addr.sin_port);
        thread_ = std::thread([this] { serve(); });
    }
    ~VanishingPrinter()
    {
        shutdown(fd_, SHUT_RDWR);
        close(fd_);
        thread_.join();
    }
    VanishingPrinter(const VanishingPrinter &) = delete;
    VanishingPrinter &operator=(const VanishingPrinter &) = delete;
    std::string uri() const { return "socket://127.0.0.1:" + std::to_string(port_); }
    size_t received() const { return received_; }

private:
    void serve()
    {
        const int client = accept(fd_, nullptr, nullptr);
        if (client < 0)
            return;
        char buffer[4096];
        ssize_t got;
        while (received_ < keep_ && (got = read(client, buffer, sizeof buffer)) > 0)
            received_ += static_cast<size_t>(got);
        // A reset rather than an orderly close: the sender's next write fails.
        linger hard{1, 0};
        setsockopt(client, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
        close(client);
    }
    size_t keep_;
    int fd_ = -1;
    int port_ = 0;
    std::atomic<size_t> received_{0};
    std::thread thread_;
};

TEST(PrinterAppJobs, DeviceGoneFailsItsJobAndTheServerGoesOn)
{
    OnePrinter p("varkon_oskel_301d");
    VanishingPrinter gone(20000);
    p.server.add_printer("gone", "varkon_oskel_301d", gone.uri());
    const std::string doc = p.document("many.pwg", raster_document(std::vector<PageBoxes>(20, kBoxes),
                                                                   CUPS_RASTER_WRITE_PWG));
    std::string error;
    const int lost = p.server.submit("gone", doc, "image/pwg-raster", {{"job-name", "lost"}}, &error);
    ASSERT_GT(lost, 0) << error;
    const JobStatus failed = p.server.wait_for_job("gone", lost);
    EXPECT_TRUE(failed.aborted()) << failed.state << " " << failed.message;
    EXPECT_FALSE(failed.message.empty());
    EXPECT_GE(gone.received(), 20000u);
    ASSERT_TRUE(p.server.running());
    const int next = p.submit(doc, "image/pwg-raster", "next");
    const JobStatus printed = p.server.wait_for_job("p", next);
    EXPECT_TRUE(printed.completed()) << printed.message << "\n" << p.server.log();
    EXPECT_EQ(p.stream("next").pages.size(), 20u);
}

// PAPPL 1.3.1 starts a file: printer's jobs that arrive together at once on
// one device, and closes it when the first ends: the others then wrote into a
// device that was gone, and the server crashed.
TEST(PrinterAppJobs, JobsSentTogetherToAFolderPrinterEachWriteTheirOwnWholeFile)
{
    OnePrinter p("varkon_belvar_210");
    const std::string pdf = p.document("two.pdf", pdf_document({kBoxes, kBoxes}));
    const std::string pwg = p.document("three.pwg", raster_document({kBoxes, kBoxes, kBoxes}, CUPS_RASTER_WRITE_PWG));
    struct Sent {
        std::string name;
        const std::string *document;
        const char *format;
        size_t pages;
        int id = -1;
    };
    std::vector<Sent> jobs;
    for (int n = 0; n < 16; ++n) {
        const bool raster = n % 2 == 1;
        jobs.push_back({"together" + std::to_string(n), raster ? &pwg : &pdf,
                        raster ? "image/pwg-raster" : "application/pdf", raster ? 3u : 2u});
    }
    std::vector<std::thread> clients;
    for (Sent &job : jobs)
        clients.emplace_back([&p, &job] {
            // A PWG raster job for a busy printer is refused as busy (PAPPL
            // would stream it); a client sends it again.
            for (int attempt = 0; attempt < 100 && job.id <= 0; ++attempt) {
                job.id = p.server.submit("p", *job.document, job.format, {{"job-name", job.name}});
                if (job.id <= 0 && cupsLastError() == IPP_STATUS_ERROR_BUSY)
                    std::this_thread::sleep_for(std::chrono::milliseconds(200));
                else
                    break;
            }
        });
    for (std::thread &client : clients)
        client.join();
    for (const Sent &job : jobs) {
        SCOPED_TRACE(job.name);
        ASSERT_GT(job.id, 0);
        const JobStatus status = p.server.wait_for_job("p", job.id);
        ASSERT_TRUE(status.completed()) << status.state << " " << status.message << "\n" << p.server.log();
        const decode::DecodedStream s = p.stream(job.name);
        ASSERT_TRUE(s.valid()) << (s.violation ? decode::format_violation(*s.violation) : "");
        EXPECT_TRUE(s.job_ended);
        EXPECT_EQ(s.pages.size(), job.pages);
        // Platform C's job frame carries the low byte of the id (the refused tries took ids too).
        EXPECT_EQ(s.job_id, job.id & 0xFF);
    }
    EXPECT_TRUE(p.server.running());
}

TEST(PrinterAppJobs, RestartKeepsPrintersAndDefaults)
{
    TempDir state, files;
    const std::string out = files.file("out");
    mkdir(out.c_str(), 0700);
    {
        PrinterAppServer first(state.path());
        first.start();
        first.add_printer("kept", "varkon_oskel_301d", "file://" + out);
        const ProcessResult r = first.command({"modify", "-d", "kept", "-o", "density=4"});
        ASSERT_EQ(r.exit_code, 0) << r.err;
        first.stop();
    }
    PrinterAppServer second(state.path());
    second.start();
    EXPECT_NE(second.command({"printers"}).out.find("kept"), std::string::npos);
    EXPECT_EQ(second.printer_attribute("kept", "density-default"), "4");
    const std::string doc = files.file("page.pwg");
    write_file(doc, raster_document({kBoxes}, CUPS_RASTER_WRITE_PWG));
    std::string error;
    const int id = second.submit("kept", doc, "image/pwg-raster", {{"job-name", "after"}}, &error);
    ASSERT_GT(id, 0) << error;
    ASSERT_TRUE(second.wait_for_job("kept", id).completed());
    const decode::DecodedStream s = decoded(read_file(device_file(out, "after")));
    ASSERT_TRUE(s.valid());
    EXPECT_EQ(s.density, 4) << decode::format_summary(s);
}

} // namespace
