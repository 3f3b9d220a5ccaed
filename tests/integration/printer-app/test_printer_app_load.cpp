// SPDX-License-Identifier: GPL-2.0-or-later
// The server under load: four printers (platforms C, Z, M and a second Z),
// each a socket:// network printer of its own, and eight IPP clients that
// send 50 jobs at once, half PWG raster, the rest Apple raster, JPEG, PNG and
// PDF. Every job completes; what each printer received is, connection by
// connection, a series of whole valid jobs of its platform, one for each job
// sent to it, with their pages and job ids, so that none was lost or mixed
// with another; and the server's memory stays bounded, with no growth over a
// second round of the same load.
#include "build_kind.h"
#include "printer_app_documents.h"
#include "printer_app_server.h"
#include "stream_sink.h"

#include <cups/cups.h>
#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <thread>

namespace {

using namespace varkon::test;
namespace decode = varkon::decode;
using Clock = std::chrono::steady_clock;

struct LoadPrinter {
    const char *name;
    const char *driver;
    decode::Platform platform;
};

const LoadPrinter kPrinters[] = {
    {"c", "varkon_belvar_210d", decode::Platform::C},
    {"z", "varkon_oskel_301d", decode::Platform::Z},
    {"m", "varkon_nimbrel_41d", decode::Platform::M},
    {"z2", "varkon_oskel_303dw", decode::Platform::Z},
};

constexpr unsigned kClients = 8;
constexpr unsigned kJobsPerRound = 50;
// All jobs of a round must be done by then; a deadlock in the server shows as a timeout.
constexpr auto kRoundLimit = std::chrono::seconds(150);

struct Format {
    const char *name;
    const char *mime;
    bool multiPage; // false: PAPPL decodes the image itself, one page
};

const Format kPwg{"pwg", "image/pwg-raster", true};
const Format kUrf{"urf", "image/urf", true};
const Format kPdf{"pdf", "application/pdf", true};
const Format kJpeg{"jpeg", "image/jpeg", false};
const Format kPng{"png", "image/png", false};

// A round's formats, job k taking the (k mod 10)th: what IPP Everywhere
// clients send, half the jobs PWG raster, the rest Apple raster, JPEG, PNG and
// PDF. PAPPL streams PWG and Apple raster into the driver while the Print-Job
// comes in, and spools the others.
const Format *const kMix[] = {&kPwg, &kPwg, &kUrf, &kPwg, &kJpeg, &kPwg, &kPdf, &kUrf, &kPng, &kPwg};

const PageBoxes kBoxes = {{0.3, 0.3, 0.7, 0.7}};

struct LoadJob {
    unsigned client = 0;
    const LoadPrinter *printer = nullptr;
    const Format *format = nullptr;
    unsigned pages = 1;
    std::string name; // job-name
    int id = -1;
    std::string error; // the Print-Job's failure
};

// Job k of a round: every client sends to every printer and in every format.
std::vector<LoadJob> round_jobs(unsigned round)
{
    std::vector<LoadJob> jobs(kJobsPerRound);
    for (unsigned k = 0; k < kJobsPerRound; ++k) {
        LoadJob &job = jobs[k];
        job.client = k % kClients;
        job.printer = &kPrinters[(k + k / kClients) % 4];
        job.format = kMix[k % 10];
        job.pages = job.format->multiPage ? 1 + k % 3 : 1;
        job.name = "r" + std::to_string(round) + "-job" + std::to_string(k);
    }
    return jobs;
}

// The server's resident set and its peak, from /proc, in kB.
struct Memory {
    long rssKb = -1;
    long hwmKb = -1;
};

Memory server_memory(pid_t pid)
{
    Memory memory;
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.compare(0, 6, "VmRSS:") == 0)
            memory.rssKb = std::atol(line.c_str() + 6);
        else if (line.compare(0, 6, "VmHWM:") == 0)
            memory.hwmKb = std::atol(line.c_str() + 6);
    }
    return memory;
}

// Every thread's stack of a server that does not finish its jobs, for the failure message.
std::string server_backtraces(pid_t pid)
{
    if (access("/usr/bin/gdb", X_OK) != 0)
        return "(no gdb for the server's backtraces)";
    ProcessOptions options;
    options.timeout_ms = 60000;
    const ProcessResult r =
        run_process({"/usr/bin/gdb", "-p", std::to_string(pid), "-batch", "-ex", "thread apply all bt"}, options);
    return r.out + r.err;
}

// The jobs of one connection's stream, each decoded on its own: a job ends
// where the decoder finds the next one starting after a job end.
std::vector<decode::DecodedStream> jobs_in(const std::string &stream)
{
    std::vector<decode::DecodedStream> jobs;
    decode::DecodeOptions options;
    options.keep_pixels = false;
    const auto *data = reinterpret_cast<const unsigned char *>(stream.data());
    for (size_t at = 0; at < stream.size();) {
        decode::DecodedStream s = decode::decode_stream(data + at, stream.size() - at, options);
        const bool next = !s.valid() && s.job_ended && s.violation->offset > 0 &&
                          s.violation->reason.find("after the job end") != std::string::npos;
        if (!next) {
            jobs.push_back(std::move(s));
            break;
        }
        const size_t end = s.violation->offset;
        jobs.push_back(decode::decode_stream(data + at, end, options));
        at += end;
    }
    return jobs;
}

class PrinterAppLoad : public ::testing::Test {
protected:
    TempDir files;
    PrinterAppServer server;
    std::map<std::string, std::string> documents; // "pwg2" -> path
    std::atomic<unsigned> busy{0};                // server-error-busy answers, sent again

    StreamSink sinks[4]; // one for each of kPrinters

    void SetUp() override
    {
        server.start();
        for (size_t i = 0; i < 4; ++i)
            server.add_printer(kPrinters[i].name, kPrinters[i].driver, sinks[i].uri());
        for (const Format *format : {&kPwg, &kUrf, &kPdf, &kJpeg, &kPng})
            for (unsigned pages = 1; pages <= (format->multiPage ? 3u : 1u); ++pages)
                make_document(*format, pages);
    }

    static std::string document_key(const Format &format, unsigned pages)
    {
        return format.name + std::to_string(pages);
    }

    void make_document(const Format &format, unsigned pages)
    {
        const std::string key = document_key(format, pages);
        if (documents.count(key) != 0)
            return;
        const std::string path = files.file("doc-" + key + "." + format.name);
        const std::vector<PageBoxes> all(pages, kBoxes);
        if (std::strcmp(format.name, "pwg") == 0)
            write_file(path, raster_document(all, CUPS_RASTER_WRITE_PWG));
        else if (std::strcmp(format.name, "urf") == 0)
            write_file(path, raster_document(all, CUPS_RASTER_WRITE_APPLE));
        else if (std::strcmp(format.name, "pdf") == 0)
            write_file(path, pdf_document(all));
        else
            image_document(kBoxes, std::strcmp(format.name, "jpeg") == 0 ? "jpeggray" : "pnggray", path);
        documents[key] = path;
    }

    // Print-Job as an IPP client does it: PAPPL 1.3.1 answers a PWG raster or
    // Apple raster job for a printer that prints another one server-error-busy
    // (it would stream the job), and the client sends it again half a second
    // later, as CUPS's ipp backend does after a pause. PAPPL keeps each refused
    // try as an aborted job that never reached the device.
    void submit(LoadJob &job)
    {
        const std::string &document = documents.at(document_key(*job.format, job.pages));
        for (;;) {
            job.id = server.submit(job.printer->name, document, job.format->mime, {{"job-name", job.name}}, &job.error);
            // libcups keeps the last status per thread: this client's own answer.
            if (job.id > 0 || cupsLastError() != IPP_STATUS_ERROR_BUSY)
                return;
            ++busy;
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
        }
    }

    // The eight clients send their jobs, each one after the other, all starting at once.
    // False when they did not finish in time; the server is then stopped.
    bool submit_all(std::vector<LoadJob> &jobs, const Clock::time_point deadline)
    {
        std::atomic<bool> go{false};
        std::atomic<unsigned> done{0};
        std::vector<std::thread> clients;
        for (unsigned c = 0; c < kClients; ++c) {
            clients.emplace_back([&, c] {
                while (!go)
                    std::this_thread::yield();
                for (LoadJob &job : jobs)
                    if (job.client == c)
                        submit(job);
                ++done;
            });
        }
        go = true;
        while (done < kClients && Clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        const bool inTime = done == kClients;
        if (!inTime)
            stuck("the clients' Print-Job requests are still unanswered");
        for (std::thread &client : clients)
            client.join();
        return inTime;
    }

    // Waits for each job to end; false when one has not ended by the deadline.
    bool wait_all(const std::vector<LoadJob> &jobs, const Clock::time_point deadline,
                  std::map<std::string, JobStatus> *ended)
    {
        for (const LoadJob &job : jobs) {
            if (job.id <= 0)
                continue;
            JobStatus status;
            while ((status = server.job_status(job.printer->name, job.id)).state < IPP_JSTATE_CANCELED) {
                if (!server.running()) {
                    ADD_FAILURE() << "the server ended while job " << job.id << " (" << job.name
                                  << ") was under way:\n" << log_tail();
                    return false;
                }
                if (Clock::now() > deadline) {
                    stuck("job " + std::to_string(job.id) + " (" + job.name + ") is in state " +
                          std::to_string(status.state));
                    return false;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
            (*ended)[job.name] = status;
        }
        return true;
    }

    // A server that does not finish the load: its threads' stacks, then it is stopped
    // so that the clients' connections end.
    void stuck(const std::string &what)
    {
        ADD_FAILURE() << what << " after " << kRoundLimit.count() << " s; the server's threads:\n"
                      << server_backtraces(server.pid()) << "\nlog tail:\n" << log_tail();
        server.stop();
    }

    std::string log_tail() const
    {
        const std::string log = server.log();
        return log.substr(log.size() > 20000 ? log.size() - 20000 : 0);
    }

    // What printer i received in a round: whole valid jobs of its platform,
    // one for each job sent to it, with the same page counts and job ids (their
    // low bytes: platform C carries only that).
    void check_printer(size_t i, const std::vector<LoadJob> &jobs, Clock::time_point deadline)
    {
        const LoadPrinter &printer = kPrinters[i];
        SCOPED_TRACE(std::string("printer ") + printer.name);
        std::vector<std::string> streams;
        ASSERT_TRUE(sinks[i].take(&streams, deadline)) << "the connection stays open";
        std::multiset<std::pair<size_t, long long>> sent, received; // pages, job id
        const bool ids = printer.platform != decode::Platform::M;
        for (const LoadJob &job : jobs)
            if (job.printer == &printer)
                sent.insert({job.pages, ids ? job.id % 256 : -1});
        for (size_t c = 0; c < streams.size(); ++c) {
            for (const decode::DecodedStream &s : jobs_in(streams[c])) {
                ASSERT_TRUE(s.valid()) << "connection " << c + 1 << ": " << decode::format_violation(*s.violation);
                EXPECT_EQ(s.platform, printer.platform);
                EXPECT_TRUE(s.job_started && s.job_ended) << decode::format_summary(s);
                for (const decode::Page &page : s.pages)
                    EXPECT_GT(page.ink, 0u) << "page " << page.number << " is blank";
                received.insert({s.pages.size(), ids ? s.job_id % 256 : -1});
            }
        }
        EXPECT_EQ(received, sent) << streams.size() << " connections";
    }

    // One round of the load: every job submitted, ended, completed and its stream checked.
    void run_round(unsigned round)
    {
        std::vector<LoadJob> jobs = round_jobs(round);
        const auto start = Clock::now();
        const auto deadline = start + kRoundLimit;
        ASSERT_TRUE(submit_all(jobs, deadline));
        std::map<std::string, JobStatus> ended; // by job name
        ASSERT_TRUE(wait_all(jobs, deadline, &ended));
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        std::printf("round %u: %u jobs in %.1f s, %u server-error-busy answers sent again\n", round, kJobsPerRound,
                    seconds, busy.exchange(0));
        std::set<std::pair<std::string, int>> ids; // job ids are the printer's own
        for (const LoadJob &job : jobs) {
            ASSERT_GT(job.id, 0) << job.name << ": " << job.error;
            EXPECT_TRUE(ids.insert({job.printer->name, job.id}).second)
                << "job id " << job.id << " given twice on printer " << job.printer->name;
            const JobStatus &status = ended[job.name];
            EXPECT_TRUE(status.completed()) << job.name << ": state " << status.state << " " << status.message;
        }
        ASSERT_TRUE(server.running()) << server.log();
        for (size_t i = 0; i < 4; ++i)
            check_printer(i, jobs, Clock::now() + std::chrono::seconds(20));
    }

    // Two rounds of the same load, and the server's memory before, between and after.
    void two_rounds()
    {
        const Memory idle = server_memory(server.pid());
        run_round(1);
        if (HasFatalFailure())
            return;
        const Memory first = server_memory(server.pid());
        run_round(2);
        if (HasFatalFailure())
            return;
        const Memory second = server_memory(server.pid());
        std::printf("server memory (kB): idle RSS %ld HWM %ld; after round 1 RSS %ld HWM %ld; after round 2 RSS %ld "
                    "HWM %ld\n",
                    idle.rssKb, idle.hwmKb, first.rssKb, first.hwmKb, second.rssKb, second.hwmKb);
        ASSERT_GT(idle.rssKb, 0);
        if (kSanitizedBuild)
            return; // its shadow memory and quarantine are no measure of the server's
        // At most four jobs print at once, one per printer, and one job keeps the
        // server at 16-19 MB (README): the idle server and four such jobs stay
        // under 96 MB. Measured: a peak of 36-42 MB, 13-14 MB after each round.
        EXPECT_LT(second.hwmKb, 96 * 1024);
        // What the first round left is all the second may leave: PAPPL's
        // history of ended jobs, a few kB each, is the only thing kept.
        EXPECT_LT(second.rssKb - first.rssKb, 8 * 1024);
        EXPECT_LT(second.rssKb, idle.rssKb + 16 * 1024);
    }
};

TEST_F(PrinterAppLoad, FiftyJobsFromEightClientsPrintWholeOnFourPrintersInBoundedMemory)
{
    two_rounds();
}

} // namespace
