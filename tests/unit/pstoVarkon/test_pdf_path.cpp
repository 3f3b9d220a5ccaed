// SPDX-License-Identifier: GPL-2.0-or-later
// Duplex rotation with qpdf and conversion with pdftops: the real programs for
// what they produce, small stand-in scripts for argument lists and failures.
#include "pdf_path.h"

#include "external_tool.h"
#include "job_state.h"
#include "ps_job_fixtures.h"
#include "stderr_capture.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <signal.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>

using namespace varkon::test;

namespace {

TEST(RemoveStr, RemovesTheFirstOccurrenceUpToTheSeparator)
{
    struct Case {
        const char *text, *name, *expected;
    } const cases[] = {
        {"page-set=odd Collate=True media=A4", "page-set", "Collate=True media=A4"},
        {"a=1 Collate=True b=2", "Collate", "a=1 b=2"},
        {"a=1 noCollate b=2", "Collate", "a=1 nob=2"},
        {"a=1 number-up-layout=lrtb number-up=2", "number-up", "a=1 number-up=2"},
        {"a=1 Collate=True", "Collate", "a=1 "},
        {"Collate", "Collate", ""},
        {"a=1 b=2", "collate", "a=1 b=2"},
        {"", "Collate", ""},
    };
    for (const auto &c : cases) {
        std::string text = c.text;
        std::vector<char> buffer(text.begin(), text.end());
        buffer.push_back('\0');
        removestr(buffer.data(), c.name, " ");
        EXPECT_STREQ(buffer.data(), c.expected) << c.text << " - " << c.name;
    }
    removestr(nullptr, "a", " ");
    char text[] = "a b";
    removestr(text, nullptr, " ");
    EXPECT_STREQ(text, "a b");
}

TEST(EvenPageList, ListsEveryEvenPage)
{
    EXPECT_EQ(varkon::even_page_list(1), "");
    EXPECT_EQ(varkon::even_page_list(2), "2");
    EXPECT_EQ(varkon::even_page_list(3), "2");
    EXPECT_EQ(varkon::even_page_list(5), "2,4");
    EXPECT_EQ(varkon::even_page_list(6), "2,4,6");
}

class PdfPath : public ::testing::Test {
protected:
    void SetUp() override
    {
        job_canceled = 0;
        std::filesystem::create_directory(tmp_);
        setenv("TMPDIR", tmp_.c_str(), 1);
        setenv("PPD", write_ppd(dir_, "halvex", "Halvex 40 Series PS", duplex_option("DuplexNoTumble")).c_str(), 1);
    }
    void TearDown() override
    {
        job_canceled = 0;
        unsetenv("TMPDIR");
        unsetenv("PPD");
    }

    static std::string duplex_option(const std::string &default_choice)
    {
        return "*OpenUI *Duplex/Two-Sided: PickOne\n*DefaultDuplex: " + default_choice +
               "\n*Duplex None/Off: \"\"\n*Duplex DuplexNoTumble/Long Edge: \"\"\n"
               "*Duplex DuplexTumble/Short Edge: \"\"\n*CloseUI: *Duplex\n";
    }

    // A working file in the temporary directory, as the filter's stdin copy would be.
    std::string working_copy(const std::string &source)
    {
        const std::string path = tmp_ + "/work" + std::to_string(++files_);
        std::filesystem::copy_file(source, path);
        return path;
    }

    std::string script(const std::string &name, const std::string &body)
    {
        const std::string path = dir_.file(name);
        write_file(path, "#!/bin/sh\n" + body);
        chmod(path.c_str(), 0755);
        return path;
    }

    std::vector<std::string> leftovers() const
    {
        std::vector<std::string> names;
        for (const auto &entry : std::filesystem::directory_iterator(tmp_))
            names.push_back(entry.path().filename());
        return names;
    }

    struct Job {
        std::vector<std::string> args;
        std::vector<char *> argv;
        char path[512] = {};
        Job(const std::string &options, const std::string &working, const char *input = nullptr,
            const std::string &title = "title", const std::string &user = "user")
            : args{"queue", "7", user, title, "1", options}
        {
            if (input != nullptr)
                args.emplace_back(input);
            for (auto &a : args)
                argv.push_back(a.data());
            argv.push_back(nullptr);
            std::snprintf(path, sizeof path, "%s", working.c_str());
        }
    };

    TempDir dir_;
    std::string tmp_ = dir_.file("tmp");
    NoSideChannel no_side_channel_;
    int files_ = 0;
};

TEST_F(PdfPath, QpdfVersionEightOrLaterIsCurrent)
{
    varkon::PdfTools tools;
    const std::pair<const char *, bool> versions[] = {
        {"qpdf version 7.1.1", false}, {"qpdf version 8.0.0", true}, {"qpdf version 10.6.3", true},
        {"some tool version 11.0", false}, {"qpdf version", false},
    };
    for (const auto &[line, current] : versions) {
        const std::string fake = script("qpdf-v", std::string("echo 'banner'\necho '") + line + "'\n");
        tools.qpdf = fake.c_str();
        EXPECT_EQ(varkon::qpdf_is_current(tools), current) << line;
    }
    tools.qpdf = "/nonexistent/qpdf";
    EXPECT_FALSE(varkon::qpdf_is_current(tools));
    EXPECT_TRUE(getqpdfversion()) << "the installed qpdf is expected to be 8 or later";
}

TEST_F(PdfPath, LongEdgeDuplexTurnsEvenPages)
{
    Job job("Duplex=DuplexNoTumble", working_copy(make_pdf(dir_, "five", 5)));
    const std::string old_path = job.path;
    CreatRotateDuplex(job.argv.data(), job.path);
    ASSERT_NE(old_path, job.path);
    EXPECT_FALSE(std::filesystem::exists(old_path));
    EXPECT_EQ(page_rotations(job.path), (std::vector<int>{0, 180, 0, 180, 0}));
    unlink(job.path);
    EXPECT_TRUE(leftovers().empty());
}

TEST_F(PdfPath, DuplexChoiceComesFromOptionsBeforeThePpdDefault)
{
    const std::string pdf = make_pdf(dir_, "four", 4);
    const std::pair<const char *, std::vector<int>> cases[] = {
        {"Duplex=None noDuplex", {0, 0, 0, 0}},
        {"Duplex=DuplexNoTumble", {0, 180, 0, 180}},
        // What CUPS sends for one-sided and short-edge jobs: the job's choice, not the
        // queue's long-edge default, decides.
        {"sides=one-sided Duplex=None", {0, 0, 0, 0}},
        {"sides=two-sided-short-edge Duplex=DuplexTumble", {0, 0, 0, 0}},
        {"sides=two-sided-short-edge", {0, 0, 0, 0}},
        {"sides=two-sided-long-edge", {0, 180, 0, 180}},
        {"media=A4", {0, 180, 0, 180}}, // no two-sided choice at all: the PPD default decides
    };
    for (const auto &[options, rotations] : cases) {
        Job job(options, working_copy(pdf));
        CreatRotateDuplex(job.argv.data(), job.path);
        EXPECT_EQ(page_rotations(job.path), rotations) << options;
        unlink(job.path);
    }
    setenv("PPD", write_ppd(dir_, "simplex", "Halvex 40 Series PS", duplex_option("None")).c_str(), 1);
    Job job("media=A4", working_copy(pdf));
    const std::string before = job.path;
    CreatRotateDuplex(job.argv.data(), job.path);
    EXPECT_EQ(before, job.path);
}

TEST_F(PdfPath, SinglePagesAndOtherPrintersAreLeftAlone)
{
    Job single("Duplex=DuplexNoTumble", working_copy(make_pdf(dir_, "one", 1)));
    const std::string single_before = single.path;
    CreatRotateDuplex(single.argv.data(), single.path);
    EXPECT_EQ(single_before, single.path);
    EXPECT_TRUE(std::filesystem::exists(single.path));

    setenv("PPD", write_ppd(dir_, "other", "Jurvex 21 PS").c_str(), 1);
    Job other("Duplex=DuplexNoTumble", working_copy(make_pdf(dir_, "two", 2)));
    const std::string other_before = other.path;
    CreatRotateDuplex(other.argv.data(), other.path);
    EXPECT_EQ(other_before, other.path);
    EXPECT_EQ(leftovers().size(), 2u);
}

TEST_F(PdfPath, TheInputFileOfCupsIsNeverRemoved)
{
    const std::string input = make_pdf(dir_, "input", 2);
    Job job("Duplex=DuplexNoTumble", input, input.c_str());
    CreatRotateDuplex(job.argv.data(), job.path);
    ASSERT_NE(input, job.path);
    EXPECT_TRUE(std::filesystem::exists(input));
    const std::string rotated = job.path;
    ASSERT_EQ(pdf2ps(job.path, job.argv.data()), 1);
    EXPECT_FALSE(std::filesystem::exists(rotated));
    EXPECT_TRUE(std::filesystem::exists(input));
    unlink(job.path);
}

TEST_F(PdfPath, FailedRotationKeepsTheDocument)
{
    const std::string qpdf = script("qpdf-fails", "case \"$1\" in\n"
                                                  "--version) echo 'qpdf version 11.0.0';;\n"
                                                  "--show-npages) echo 4;;\n"
                                                  "*) echo 'cannot rotate' >&2; exit 2;;\n"
                                                  "esac\n");
    varkon::PdfTools tools;
    tools.qpdf = qpdf.c_str();
    const std::string pdf = make_pdf(dir_, "four", 4);
    Job job("Duplex=DuplexNoTumble", working_copy(pdf));
    const std::string before = job.path;
    varkon::rotate_duplex(job.argv.data(), job.path, tools);
    EXPECT_EQ(before, job.path);
    EXPECT_EQ(read_file(job.path), read_file(pdf));
    EXPECT_EQ(leftovers().size(), 1u);
}

TEST_F(PdfPath, UnreadablePageCountMeansNoRotation)
{
    Job job("Duplex=DuplexNoTumble", working_copy(dir_.file("halvex.ppd")));
    const std::string before = job.path;
    CreatRotateDuplex(job.argv.data(), job.path);
    EXPECT_EQ(before, job.path);
    EXPECT_EQ(leftovers().size(), 1u);
}

TEST_F(PdfPath, ConversionWithPdftopsGivesPostScriptOfEveryPage)
{
    Job job("Collate=True PageSize=A4", working_copy(make_pdf(dir_, "three", 3)));
    const std::string before = job.path;
    ASSERT_EQ(pdf2ps(job.path, job.argv.data()), 1);
    EXPECT_FALSE(std::filesystem::exists(before));
    const std::string ps = read_file(job.path);
    EXPECT_EQ(ps.rfind("%!PS", 0), 0u);
    EXPECT_EQ(ps_page_count(ps), 3);
    unlink(job.path);
    EXPECT_TRUE(leftovers().empty());
}

TEST_F(PdfPath, JobTextsReachPdftopsAsSingleArgumentsAndRunNothing)
{
    const std::string record = dir_.file("args");
    const std::string pdftops = script("pdftops", "for a in \"$@\"; do printf '%s\\0' \"$a\"; done > '" + record +
                                                      "'\nprintf '%%!PS\\n%%%%Page: 1 1\\n'\n");
    varkon::PdfTools tools;
    tools.pdftops = pdftops.c_str();
    const std::string marker = dir_.file("ran");
    const std::string title = "a\"b'c; touch " + marker + "; $(touch " + marker + ") `touch " + marker + "`\nx";
    const std::string user = "u\" > " + marker + " \"";
    const std::string options = "Collate=True page-set=odd media=A4 number-up=2 x=$(touch " + marker + ")";
    Job job(options, working_copy(make_pdf(dir_, "one", 1)), nullptr, title, user);
    const std::string working = job.path;
    ASSERT_EQ(varkon::convert_to_ps(job.path, job.argv.data(), tools), 1);

    const std::string recorded = read_file(record);
    std::vector<std::string> args;
    for (std::size_t at = 0; at < recorded.size(); at = recorded.find('\0', at) + 1)
        args.push_back(recorded.substr(at, recorded.find('\0', at) - at));
    EXPECT_EQ(args, (std::vector<std::string>{"7", user, title, "1", "media=A4 x=$(touch " + marker + ")", working}));
    EXPECT_FALSE(std::filesystem::exists(marker));
    EXPECT_EQ(read_file(job.path), "%!PS\n%%Page: 1 1\n");
    unlink(job.path);
}

TEST_F(PdfPath, FailedConversionKeepsTheWorkingPathAndLeavesNoFile)
{
    varkon::PdfTools tools;
    const std::string failing = script("fails", "echo 'partial'\nexit 1\n");
    const std::string silent = script("silent", "exit 0\n");
    for (const char *tool : {failing.c_str(), silent.c_str(), "/nonexistent/pdftops"}) {
        tools.pdftops = tool;
        Job job("", working_copy(make_pdf(dir_, "one", 1)));
        const std::string before = job.path;
        EXPECT_EQ(varkon::convert_to_ps(job.path, job.argv.data(), tools), -1) << tool;
        EXPECT_EQ(before, job.path);
        EXPECT_TRUE(std::filesystem::exists(before));
        unlink(job.path);
        EXPECT_TRUE(leftovers().empty()) << tool;
    }
    EXPECT_EQ(pdf2ps(nullptr, nullptr), -1);
}

TEST_F(PdfPath, CancelledJobStopsARunningConversion)
{
    varkon::PdfTools tools;
    const std::string slow = script("slow", "printf '%%!PS\\n'\nexec sleep 30\n");
    tools.pdftops = slow.c_str();
    Job job("", working_copy(make_pdf(dir_, "one", 1)));
    job_canceled = 1;
    // Left alone the stand-in would succeed after 30 s; ended by the signal it fails.
    EXPECT_EQ(varkon::convert_to_ps(job.path, job.argv.data(), tools), -1);
    unlink(job.path);
    EXPECT_TRUE(leftovers().empty());
}

// The texts of the job reach the converter byte for byte, one argument each,
// whatever they hold.
TEST_F(PdfPath, EveryJobTextReachesPdftopsVerbatim)
{
    const std::string record = dir_.file("args");
    const std::string pdftops = script("pdftops", "for a in \"$@\"; do printf '%s\\0' \"$a\"; done > '" + record +
                                                      "'\nprintf '%%!PS\\n%%%%Page: 1 1\\n'\n");
    varkon::PdfTools tools;
    tools.pdftops = pdftops.c_str();
    const std::string marker = dir_.file("ran");
    const std::vector<std::string> texts = {
        "back\\slash\\", "a | touch " + marker, "a & touch " + marker + " &", "x\nPAGE: 7 7\n",
        "-o /tmp/x --help", std::string(64 * 1024, 'A'), "\xff\xfe\xc3\x28\xe2\x82", "$(touch " + marker + ")",
    };
    for (const std::string &text : texts) {
        SCOPED_TRACE(text.substr(0, 40));
        Job job("x=1", working_copy(make_pdf(dir_, "one", 1)), nullptr, text, text);
        const std::string working = job.path;
        ASSERT_EQ(varkon::convert_to_ps(job.path, job.argv.data(), tools), 1);
        const std::string recorded = read_file(record);
        std::vector<std::string> args;
        for (std::size_t at = 0; at < recorded.size(); at = recorded.find('\0', at) + 1)
            args.push_back(recorded.substr(at, recorded.find('\0', at) - at));
        EXPECT_EQ(args, (std::vector<std::string>{"7", text, text, "1", "x=1", working}));
        EXPECT_FALSE(std::filesystem::exists(marker));
        unlink(job.path);
    }
}

// What a tool logs reaches the job log line by line; only its messages keep
// their prefix, so a job text inside its log forges no line CUPS acts on.
TEST_F(PdfPath, AToolsLogIsRelayedWithoutLinesCupsWouldActOn)
{
    const std::string tool = script("chatty", "printf 'DEBUG: title x\\nPAGE: 9 9\\nATTR: a=b\\nERROR: real\\n' >&2\n"
                                              "echo out\nprintf 'no line end' >&2\n");
    StderrCapture log;
    const varkon::ToolResult result = varkon::run_tool({tool}, varkon::ToolOutput::ToStderr);
    const std::string text = log.finish();
    EXPECT_EQ(result.exit_status, 0);
    EXPECT_EQ(text, "DEBUG: title x\nDEBUG: [chatty] PAGE: 9 9\nDEBUG: [chatty] ATTR: a=b\nERROR: real\n"
                    "DEBUG: [chatty] out\nDEBUG: [chatty] no line end\n");
}

// Nothing a tool started outlives it, whether it ended by itself or was
// cancelled, and a tool that ignores the cancel is killed soon after.
TEST_F(PdfPath, NothingAToolStartedOutlivesIt)
{
    const std::string pid_file = dir_.file("child");
    const std::string leaves = script("leaves", "sleep 30 &\necho $! > '" + pid_file + "'\nexit 0\n");
    const std::string stubborn = script("stubborn", "trap '' TERM\nsleep 30 &\necho $! > '" + pid_file + "'\nwait\n");
    for (const std::string &tool : {leaves, stubborn}) {
        SCOPED_TRACE(tool);
        job_canceled = tool == stubborn ? 1 : 0;
        const auto start = std::chrono::steady_clock::now();
        varkon::run_tool({tool}, varkon::ToolOutput::Capture);
        // The stubborn tool is killed 1 s after the cancel; either would hold the job 30 s.
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
        const pid_t child = static_cast<pid_t>(std::atoi(read_file(pid_file).c_str()));
        ASSERT_GT(child, 0);
        // Gone, or a zombie waiting for init, once the kill has landed.
        const std::string proc = "/proc/" + std::to_string(child) + "/stat";
        std::string stat;
        for (int i = 0; i < 100; ++i) {
            stat = std::filesystem::exists(proc) ? read_file(proc) : "";
            if (stat.empty() || stat.find(") Z") != std::string::npos)
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        EXPECT_TRUE(stat.empty() || stat.find(") Z") != std::string::npos) << stat;
    }
    job_canceled = 0;
}

} // namespace
