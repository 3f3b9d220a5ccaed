// SPDX-License-Identifier: GPL-2.0-or-later
// pstoVarkon on bad input through the real binary: documents, job texts,
// device URIs and device IDs as anyone who may print, or any device on the
// line, can send them. Every case ends with its defined exit status and
// output, leaves no temporary file, runs nothing named in the job's texts and
// forges no "PAGE:" or "ATTR:" line in the job log.
#include "fault_run.h"
#include "ps_job_fixtures.h"
#include "run_process.h"
#include "side_channel_standin.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <sstream>

using namespace varkon::test;

namespace {

// A small PostScript job with two pages, as a Jurvex printer takes it.
std::string two_page_job()
{
    return kJobNameLine + "@PJL ENTER LANGUAGE = POSTSCRIPT\r\n%!PS-Adobe-3.0\n%%Pages: 2\n%%EndComments\n"
                          "%%EndSetup\n%%Page: 1 1\nshowpage\n%%Page: 2 2\nshowpage\n%%Trailer\n%%EOF\n" +
           kEndOfJob;
}

// Lines of the job log that CUPS would act on: pstoVarkon writes none, and
// passes none on from the tools it runs.
std::vector<std::string> forged_lines(const std::string &log)
{
    std::vector<std::string> found;
    std::istringstream lines(log);
    for (std::string line; std::getline(lines, line);)
        for (const char *prefix : {"PAGE:", "ATTR:", "STATE:", "PPD:"})
            if (line.rfind(prefix, 0) == 0)
                found.push_back(line);
    return found;
}

class BadInput : public ::testing::Test {
protected:
    void SetUp() override { std::filesystem::create_directory(tmp_); }

    struct Job {
        Job(Queue q, std::string in, std::string t = "report", std::string u = "bob", std::string o = "",
            std::string uri = "")
            : queue(q), input(std::move(in)), title(std::move(t)), user(std::move(u)), options(std::move(o)),
              device_uri(std::move(uri))
        {
        }
        Queue queue;
        std::string input;
        std::string title;
        std::string user;
        std::string options;
        std::string device_uri; // empty: none in the environment
    };

    // Runs the job and checks what holds for every bad input.
    ProcessResult run(const Job &job)
    {
        ProcessOptions o;
        o.env = {"PPD=" + queue_ppd(dir_, job.queue), "TMPDIR=" + tmp_};
        if (!job.device_uri.empty())
            o.env.push_back("DEVICE_URI=" + job.device_uri);
        else
            o.unset = {"DEVICE_URI"};
        o.stdin_data = job.input;
        o.cwd = dir_.path();
        o.timeout_ms = 60000;
        const ProcessResult r = run_process(
            {built_program("pstoVarkon/pstoVarkon"), "17", job.user, job.title, "1", job.options}, o);
        EXPECT_FALSE(r.timed_out);
        EXPECT_EQ(r.term_signal, 0);
        EXPECT_TRUE(std::filesystem::is_empty(tmp_)) << "temporary files left behind";
        EXPECT_EQ(forged_lines(r.err), std::vector<std::string>()) << r.err.substr(0, 2000);
        EXPECT_FALSE(std::filesystem::exists(marker_)) << "a job text was run as a command";
        ++tried_;
        return r;
    }

    TempDir dir_;
    std::string tmp_ = dir_.file("tmp");
    std::string marker_ = dir_.file("ran");
    int tried_ = 0;
};

// --- Documents ---

struct DocumentCase {
    const char *name;
    Queue queue;
    std::function<std::string(const TempDir &)> input;
    int exit_code;
    std::function<bool(const std::string &input, const std::string &out)> output_ok;
    const char *options = "";
};

bool copied_whole(const std::string &in, const std::string &out)
{
    return out == in || out == in + kEndOfJob;
}

bool lines_kept(const std::string &in, const std::string &out)
{
    // The Jurvex writer adds PJL lines; every input line must still be there, whole.
    std::istringstream lines(in);
    for (std::string line; std::getline(lines, line);)
        if (out.find(line) == std::string::npos)
            return false;
    return out.size() >= in.size();
}

std::string megabyte_line() { return "%!PS\n%" + std::string(1 << 20, 'x') + "\nshowpage\n%%Page: 1 1\n"; }
std::string with_nul_bytes() { return std::string("%!PS\n%%Page: 1 1\n(a\0b) show\n\0\0\0showpage\n", 40); }

const DocumentCase kDocuments[] = {
    {"empty input, other printer", Queue::Other, [](const TempDir &) { return std::string(); }, 0,
     [](const std::string &, const std::string &out) { return out.empty(); }},
    {"empty input, Jurvex", Queue::Jurvex, [](const TempDir &) { return std::string(); }, 0,
     [](const std::string &, const std::string &out) { return out.empty(); }},
    {"no page comment, other printer", Queue::Other,
     [](const TempDir &) { return std::string("%!PS\n/Times findfont 12 scalefont setfont\nshowpage\n"); }, 0,
     copied_whole},
    {"no page comment, Jurvex", Queue::Jurvex,
     [](const TempDir &) { return kJobNameLine + "%!PS\nshowpage\n"; }, 0, lines_kept},
    {"1 MB line, other printer", Queue::Other, [](const TempDir &) { return megabyte_line(); }, 0, copied_whole},
    {"1 MB line, Jurvex", Queue::Jurvex, [](const TempDir &) { return megabyte_line(); }, 0, lines_kept},
    {"NUL bytes, other printer", Queue::Other, [](const TempDir &) { return with_nul_bytes(); }, 0, copied_whole},
    {"NUL bytes, Jurvex", Queue::Jurvex, [](const TempDir &) { return with_nul_bytes(); }, 0,
     [](const std::string &in, const std::string &out) { return out.rfind(in, 0) == 0; }},
    {"trailing percent, Jurvex", Queue::Jurvex, [](const TempDir &) { return std::string("%!PS\n%%Page: 1 1\n%"); },
     0, lines_kept},
    {"trailing backslash, Jurvex", Queue::Jurvex,
     [](const TempDir &) { return std::string("%!PS\n%%Page: 1 1\n(a\\"); }, 0, lines_kept},
    {"oversized numbers in a custom page, Jurvex", Queue::Jurvex,
     [](const TempDir &) {
         return std::string("%!PS\n<</Type/Page/MediaBox [0 0 99999999999999999999999 1e400]>>\n"
                            "-1 -99999999999999 pdfSetupPaper\n");
     },
     1, [](const std::string &, const std::string &out) { return out.empty(); }, "PageSize=Custom.612x1010"},
    {"empty input, Halvex", Queue::Halvex, [](const TempDir &) { return std::string(); }, 1,
     [](const std::string &, const std::string &out) { return out.empty(); }},
    {"broken PDF, Halvex", Queue::Halvex,
     [](const TempDir &) { return std::string("%PDF-1.4\n1 0 obj << /Type /Catalog /Pages 9 0 R >>\n%%EOF\n"); }, 1,
     [](const std::string &, const std::string &out) { return out.empty(); }},
    {"PDF cut in half, Halvex", Queue::Halvex,
     [](const TempDir &dir) {
         const std::string pdf = read_file(make_pdf(dir, "cut", 3));
         return pdf.substr(0, pdf.size() / 2);
     },
     1, [](const std::string &, const std::string &out) { return out.empty(); }},
    {"PDF of 0 pages, Halvex", Queue::Halvex,
     [](const TempDir &) {
         return std::string("%PDF-1.4\n1 0 obj\n<< /Type /Catalog /Pages 2 0 R >>\nendobj\n"
                            "2 0 obj\n<< /Type /Pages /Kids [] /Count 0 >>\nendobj\n"
                            "trailer\n<< /Root 1 0 R >>\n%%EOF\n");
     },
     1, [](const std::string &, const std::string &out) { return out.empty(); }},
};

TEST_F(BadInput, DocumentsEndWithTheirStatusAndOutput)
{
    for (const DocumentCase &c : kDocuments) {
        SCOPED_TRACE(c.name);
        const std::string input = c.input(dir_);
        const ProcessResult r = run({c.queue, input, "report", "bob", c.options});
        EXPECT_EQ(r.exit_code, c.exit_code) << r.err.substr(0, 2000);
        EXPECT_TRUE(c.output_ok(input, r.out)) << "output of " << r.out.size() << " bytes";
        if (r.exit_code != 0) {
            EXPECT_NE(r.err.find("ERROR:"), std::string::npos);
        }
    }
    RecordProperty("inputs", tried_);
}

// --- Job texts: title, user and options ---

std::vector<std::string> hostile_texts(const std::string &marker)
{
    return {
        "quote\" ' \"\"; touch " + marker + " \"",
        "back\\slash\\",
        "$(touch " + marker + ")",
        "`touch " + marker + "`",
        "a; touch " + marker + ";",
        "a | touch " + marker,
        "a & touch " + marker + " &",
        "line\nPAGE: 77 7\nATTR: marker-levels=100\nERROR: forged\n",
        "-o /tmp/x --help",
        std::string(64 * 1024, 'A') + "\nPAGE: 99 1",
        "\xff\xfe\xc3\x28\xe2\x82 \xed\xa0\x80",
    };
}

// The texts go in as title, as user and quoted inside the options that the
// filter reads and logs.
TEST_F(BadInput, JobTextsArriveAsTextRunNothingAndForgeNoLogLine)
{
    const std::string pdf = read_file(make_pdf(dir_, "one", 1));
    for (Queue queue : {Queue::Other, Queue::Jurvex, Queue::Halvex}) {
        for (const std::string &text : hostile_texts(marker_)) {
            SCOPED_TRACE(text.substr(0, 60) + " on queue " + std::to_string(static_cast<int>(queue)));
            // A single argument holds at most 128 KiB: the longest text goes in once.
            const std::string options = text.size() > 1024
                                            ? "PageSize='" + text + "' Duplex=DuplexNoTumble"
                                            : "PageSize='" + text + "' media='" + text + "' FeedEdge='" + text +
                                                  "' Duplex=DuplexNoTumble x=" + text;
            const std::string input = queue == Queue::Halvex ? pdf : two_page_job();
            const ProcessResult r = run({queue, input, text, text, options});
            EXPECT_EQ(r.exit_code, 0) << r.err.substr(0, 2000);
            EXPECT_EQ(ps_page_count(r.out), queue == Queue::Halvex ? 1 : 2);
        }
    }
    RecordProperty("inputs", tried_);
}

// --- Device URIs of the keep-alive thread ---

TEST_F(BadInput, BrokenEscapesInTheDeviceUriLeaveTheJobAlone)
{
    const std::string pdf = read_file(make_pdf(dir_, "one", 1));
    for (const char *uri : {"socket://printer%", "socket://printer%4", "socket://%zz%zz/", "socket://pr%00inter:9100",
                            "ipp://%/ipp/print", "lpd://%4", "usb://Varkon/Halvex%2050?serial=%", "%"}) {
        SCOPED_TRACE(uri);
        const ProcessResult r = run({Queue::Halvex, pdf, "report", "bob", "", uri});
        EXPECT_EQ(r.exit_code, 0) << r.err.substr(0, 2000);
        EXPECT_EQ(ps_page_count(r.out), 1);
    }
    RecordProperty("inputs", tried_);
}

// --- Device IDs from the side channel ---

struct DeviceIdCase {
    const char *name;
    std::string id;
    int status;
    bool jurvex; // the job is rewritten for a Jurvex printer
};

TEST_F(BadInput, DeviceIdsOfAnySizeAndContentClassifyOrFallBack)
{
    const std::string jurvex_id = "MFG:Varkon;MDL:Jurvex 21;CLS:PRINTER;";
    const DeviceIdCase cases[] = {
        {"Jurvex at the end of 511 bytes", std::string(511 - jurvex_id.size(), 'x') + jurvex_id, 1, true},
        {"Jurvex past 511 bytes", std::string(600, 'x') + jurvex_id, 1, false},
        {"the longest side-channel answer", std::string(65535 - jurvex_id.size(), 'y') + jurvex_id, 1, false},
        {"control characters", "MFG:Varkon;\nPAGE: 77 7\nATTR: x=y\r\x1b[2J;MDL:Jurvex 21;\n", 1, true},
        {"empty model field", "MFG:Varkon;MDL:;CLS:PRINTER;", 1, false},
        {"empty answer", "", 1, false},
        {"failure status", jurvex_id, 3, false},
        {"NUL inside", std::string("MFG:Varkon;\0MDL:Jurvex 21;", 26), 1, false},
    };
    for (const DeviceIdCase &c : cases) {
        SCOPED_TRACE(c.name);
        const SideChannelStandin side_channel(c.id, c.status);
        const ProcessResult r = run({Queue::Other, two_page_job()});
        EXPECT_EQ(r.exit_code, 0) << r.err.substr(0, 2000);
        EXPECT_EQ(r.out.find("@PJL SET JOBOWNER=") != std::string::npos, c.jurvex) << r.err.substr(0, 2000);
        EXPECT_EQ(ps_page_count(r.out), 2);
        EXPECT_GE(side_channel.requests(), 1);
    }
    RecordProperty("inputs", tried_);
}

} // namespace
