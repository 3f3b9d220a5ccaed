// SPDX-License-Identifier: GPL-2.0-or-later
// Job start and end: the job frames byte by byte, and the whole Prnt_StartDoc and
// Prnt_EndDoc sequences of each platform as they reach the printer stream.
#include "job_commands.h"

#include "command_sequence.h"
#include "frames.h"
#include "hex_bytes.h"
#include "test_job.h"
#include "model_table.h"
#include "output_sink.h"
#include "platform.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstring>
#include <ctime>
#include <string>

using namespace varkon::test;

namespace {

struct tm december_7_2026_at_1405()
{
    struct tm t {};
    t.tm_year = 2026 - 1900;
    t.tm_mon = 11;
    t.tm_mday = 7;
    t.tm_hour = 14;
    t.tm_min = 5;
    return t;
}

GDI_START_DOC_PARAM duplex_job_300()
{
    GDI_START_DOC_PARAM param;
    param.jobID = 300;
    param.DuplexMode = 0x20;
    param.saveMode = 0x10;
    param.FineMode = 1;
    param.densityLevel = 3;
    return param;
}

template <size_t N>
std::string str(const std::array<unsigned char, N> &a)
{
    return std::string(reinterpret_cast<const char *>(a.data()), N);
}

TEST(JobFrames, JobSpecificationCarriesJobIdAndOptions)
{
    const GDI_START_DOC_PARAM param = duplex_job_300();
    unsigned char frame[9];
    EXPECT_EQ(GetJobSpecCmd_C(&param, frame), 1);
    EXPECT_EQ(hex(frame, 6), "0B 06 11 2C 30 82"); // job id 300 as its low byte
    EXPECT_EQ(GetJobSpecCmd_Z(&param, frame), 1);
    EXPECT_EQ(hex(frame, 9), "0B 09 11 30 2C 01 00 00 7E"); // all four bytes, little-endian
}

TEST(JobFrames, OptionByteCollectsEveryFeature)
{
    GDI_START_DOC_PARAM param = duplex_job_300();
    EXPECT_EQ(varkon::job_option_byte(param), 0x30);
    param.watermarkEnable = 5;
    param.bookletEnable = -1;
    param.posterEnable = 1;
    param.nupEnable = 1;
    param.overlapEnable = 1;
    EXPECT_EQ(varkon::job_option_byte(param), 0xBF);
    param = GDI_START_DOC_PARAM{};
    param.nupEnable = 1;
    EXPECT_EQ(varkon::job_option_byte(param), 0x02);
}

TEST(JobFrames, OneByteFrames)
{
    GDI_START_DOC_PARAM param = duplex_job_300();
    param.tonerSaveEnable = 0x101; // only the low byte is sent
    unsigned char frame[5];
    GetFineModeCmd(&param, frame);
    EXPECT_EQ(hex(frame, 5), "0B 05 1F 01 D0");
    GetDensityCmd(&param, frame);
    EXPECT_EQ(hex(frame, 5), "0B 05 15 03 D8");
    GetTonerSaveCmd(&param, frame);
    EXPECT_EQ(hex(frame, 5), "0B 05 19 01 D6");
}

TEST(JobFrames, SystemDateAndJobTime)
{
    unsigned char frame[8];
    EXPECT_EQ(GetSysTimeCmd(frame, december_7_2026_at_1405()), 1);
    EXPECT_EQ(hex(frame, 8), "0B 08 1F EA 07 0C 07 CA");
    EXPECT_EQ(GetSysTimeCmd(nullptr, december_7_2026_at_1405()), 0);

    // Minute first, then hour, day, month and year.
    char line[19];
    GetSendTimePJL(line, december_7_2026_at_1405());
    EXPECT_STREQ(line, "05:14:07:12:2026\r\n");
}

TEST(JobFrames, TonerParameterFrames)
{
    unsigned char tamrel[36];
    GetTonerParamCmdForTamrel(tamrel);
    EXPECT_EQ(hex(tamrel, 4), "0B 24 1E 00");
    EXPECT_EQ(tamrel[35], 0xC8);
    EXPECT_EQ(CalcChecksum(tamrel, 36) & 0xFF, 0);

    unsigned char drevan[40];
    GetTonerParamCmdForDrevan(drevan);
    EXPECT_EQ(hex(drevan, 4), "0B 28 1E 00");
    EXPECT_EQ(drevan[39], 0x59);
    EXPECT_EQ(CalcChecksum(drevan, 40) & 0xFF, 0);

    unsigned char block[88];
    GetTonerParamCmdForPlatformM(block, 88, 0x11, 0, 0, 0x5A5A);
    EXPECT_EQ(hex(block, 16), "00 00 00 58 00 00 00 11 00 00 00 00 00 00 5A 5A");
    EXPECT_EQ(hex(block + 16, 6), "00 00 00 51 00 73");       // paramVer, densityLow 81, densityHigh 115
    EXPECT_EQ(hex(block + 64, 2), "00 78");                   // highSpeedCoverRate_1 120
    EXPECT_EQ(hex(block + 78, 10), "00 BE 01 5E 01 90 00 64 00 64"); // lowSpeedCoverRate_3..5, idle, dpi1200
}

TEST(JobFrames, HostNameIsBoundedAndTerminated)
{
    char name[varkon::kHostNameSize];
    std::memset(name, 'x', sizeof name);
    varkon::read_host_name(name);
    EXPECT_LT(std::strlen(name), sizeof name);
    char system[256] = {};
    gethostname(system, sizeof system - 1);
    EXPECT_EQ(std::string(name), std::string(system).substr(0, 32));
}

// The job commands as they reach the printer.
class JobSequence : public ::testing::Test {
protected:
    void SetUp() override
    {
        job().g_page = 1;
        std::strcpy(job().gPPDFile, "Varkon Oskel 301 Series");
    }

    static SequenceItem item(const std::string &data, const std::string &failure) { return {data, failure, nullptr}; }

    // The job time line: accepted when it shows the time now or a little earlier.
    static SequenceItem job_time_line(const std::string &failure)
    {
        return {"00:00:00:00:0000\r\n", failure, [](const std::string &actual) {
                    for (time_t at : {time(nullptr), time(nullptr) - 120}) {
                        struct tm t {};
                        localtime_r(&at, &t);
                        char line[19];
                        GetSendTimePJL(line, t);
                        if (actual == line)
                            return true;
                    }
                    return false;
                }};
    }

    static SequenceItem system_date(const std::string &failure)
    {
        return {std::string(8, '\0'), failure, [](const std::string &actual) {
                    for (time_t at : {time(nullptr), time(nullptr) - 120}) {
                        struct tm t {};
                        localtime_r(&at, &t);
                        unsigned char frame[8];
                        GetSysTimeCmd(frame, t);
                        if (actual == std::string(reinterpret_cast<char *>(frame), 8))
                            return true;
                    }
                    return false;
                }};
    }

    static std::string host_name()
    {
        char name[varkon::kHostNameSize];
        varkon::read_host_name(name);
        return name;
    }

    // Job start of platform Z; `tamrel`/`drevan` add what those models get.
    static Sequence start_doc_z(bool tamrel, bool drevan)
    {
        const std::string zz = bytes("00 00");
        Sequence s;
        s.push_back(item(str(PJLheader), "Prnt_StartDoc() :: send PJLheader Fail 0 ==  \n"));
        if (tamrel)
            s.push_back(item(str(pjlVersion), "Prnt_StartDoc() :: send pjlVersion Fail 0 ==  \n"));
        s.push_back(item("@PJL JOBTIME=", "Prnt_StartDoc() :: send pjlSendTime Fail 0 ==  \n"));
        s.push_back(job_time_line("Prnt_StartDoc() :: send pjlSendTime Fail 0 ==  \n"));
        s.push_back(item("@PJL JOBOWNER=", "Prnt_StartDoc() :: send pjlHostName Fail 0 ==  \n"));
        s.push_back(item(host_name(), "Prnt_StartDoc() :: send pjlHostName Fail 0 ==  \n"));
        s.push_back(item("\r\n", "Prnt_StartDoc() :: send pjlHostName Fail 0 ==  \n"));
        s.push_back(item("@PJL ENTER LANGUAGE=PL\r\n", "Prnt_StartDoc() :: send pjlPosCmd Fail 0 ==  \n"));
        s.push_back(plain(zz));
        s.push_back(item(bytes("0B 05 1F 01 D0"), "Prnt_StartDoc() :: send cmdFineMode Fail 0 ==  \n"));
        s.push_back(plain(zz));
        s.push_back(item(bytes("0B 09 11 30 2C 01 00 00 7E"), "Prnt_StartDoc() :: send cmdJobSpec Fail 0 ==  \n"));
        s.push_back(plain(zz));
        s.push_back(item(bytes("0B 05 15 03 D8"), "Prnt_StartDoc() :: send cmdDensity Fail 0 ==  \n"));
        s.push_back(plain(zz));
        unsigned char toner[40];
        if (tamrel) {
            GetTonerParamCmdForTamrel(toner);
            s.push_back(item(std::string(reinterpret_cast<char *>(toner), 36),
                             "Prnt_StartDoc() :: send cmdTonerParamTamrel Fail 0 ==  \n"));
        }
        if (drevan) {
            GetTonerParamCmdForDrevan(toner);
            s.push_back(item(std::string(reinterpret_cast<char *>(toner), 40),
                             "Prnt_StartDoc() :: send cmdTonerParamTamrel Fail 0 ==  \n"));
        }
        return s;
    }
};

TEST_F(JobSequence, StartDocOnZ)
{
    GDI_START_DOC_PARAM param = duplex_job_300();
    expect_sequence(start_doc_z(false, false), [&] { return Prnt_StartDoc(&param, PLATFORM_Z); });

    std::strcpy(job().gPPDFile, varkon::kTamrelModelName);
    expect_sequence(start_doc_z(true, false), [&] { return Prnt_StartDoc(&param, PLATFORM_Z); });

    std::strcpy(job().gPPDFile, varkon::kDrevanModelName);
    expect_sequence(start_doc_z(false, true), [&] { return Prnt_StartDoc(&param, PLATFORM_Z); });

    // A name that merely begins with the Tamrel name is another model.
    std::strcpy(job().gPPDFile, (std::string(varkon::kTamrelModelName) + " II").c_str());
    expect_sequence(start_doc_z(false, false), [&] { return Prnt_StartDoc(&param, PLATFORM_Z); });
}

TEST_F(JobSequence, StartDocOnC)
{
    const std::string zz = bytes("00 00");
    GDI_START_DOC_PARAM param = duplex_job_300();
    const Sequence s = {
        item(bytes("1B FF 2D 31 32 33 34 35 58"), "Prnt_StartDoc() :: send UEL_CMD_C Fail 0 ==  \n"),
        item(bytes("0B 04 16 DB"), "Prnt_StartDoc() :: send abortCmd Fail 0 ==  \n"),
        item(str(endOfJobCmd), "Prnt_StartDoc() :: send endOfJobCmd Fail 0 ==  \n"),
        item("versions=3.1.2.1", "Prnt_StartDoc() :: send fw Version Fail 0 ==  \n"),
        plain(zz),
        item(str(PJLheader), "Prnt_StartDoc() :: send PJLheader Fail 0 ==  \n"),
        item(str(pjlCmd), "Prnt_StartDoc() :: send pjlCmd Fail 0 ==  \n"),
        plain(zz),
        item(bytes("0B 06 11 2C 30 82"), "Prnt_StartDoc() :: send cmdJobSpec Fail 0 ==  \n"),
        plain(zz),
        item(bytes("0B 05 19 00 D7"), "Prnt_StartDoc() :: send cmdTonerSave Fail 0 ==  \n"),
        plain(zz),
        item(bytes("0B 05 15 03 D8"), "Prnt_StartDoc() :: send cmdDensity Fail 0 ==  \n"),
        system_date("Prnt_StartDoc() :: send cmdSysTime Fail 0 ==  \n"),
    };
    expect_sequence(s, [&] { return Prnt_StartDoc(&param, PLATFORM_C); });
}

TEST_F(JobSequence, StartDocOnMIgnoresTheJobOptions)
{
    unsigned char toner[88];
    GetTonerParamCmdForPlatformM(toner, 88, 0x11, 0, 0, 0x5A5A);
    const Sequence s = {
        item(str(UEL_CMD), "Prnt_StartDoc() :: send UEL_CMD Fail 0 ==  \n"),
        item("JZJZ", "Prnt_StartDoc() :: send pjlJZJZ_Quolin Fail 0 ==  \n"),
        item(std::string(reinterpret_cast<char *>(toner), 88), "Prnt_StartDoc() :: send TONER_PARAM Fail 0 ==  \n"),
        item(bytes("00 00 00 34 00 00 00 00 00 00 00 03 00 24 5A 5A"),
             "Prnt_StartDoc() :: send START_DOC_CMD Fail 0 ==  \n"),
        item(bytes("00 00 00 0C 00 00 01 00 00 00 00 00"), "Prnt_StartDoc() :: send TOTAL_PAGE_PARAM Fail 0 ==  \n"),
        item(bytes("00 00 00 0C 00 01 01 00 00 00 00 00"), "Prnt_StartDoc() :: send TOTAL_PAGE_PARAM Fail 0 ==  \n"),
        item(bytes("00 00 00 0C 00 02 01 00 00 00 00 01"), "Prnt_StartDoc() :: send TOTAL_PAGE_PARAM Fail 0 ==  \n"),
    };
    GDI_START_DOC_PARAM plainJob;
    expect_sequence(s, [&] { return Prnt_StartDoc(&plainJob, PLATFORM_M); });
    GDI_START_DOC_PARAM busyJob = duplex_job_300();
    busyJob.watermarkEnable = 1;
    busyJob.tonerSaveEnable = 1;
    expect_sequence(s, [&] { return Prnt_StartDoc(&busyJob, PLATFORM_M); });
}

TEST_F(JobSequence, EndDocOnEachPlatform)
{
    const std::string zz = bytes("00 00");
    const SequenceItem reset = item(bytes("0B 04 17 DA"), "Prnt_EndDoc() :: send resetCmd Fail 0 ==  \n");
    const SequenceItem eoj = item(str(endOfJobCmd), "Prnt_EndDoc() :: send endOfJobCmd Fail 0 ==  \n");
    const SequenceItem query = item(bytes("0B 05 31 80 3F"), "Prnt_EndDoc() :: send queryStatusCmd Fail 0 ==  \n");

    GDI_END_DOC_PARAM evenDuplex{4, 1};
    expect_sequence({plain(zz), query, plain(zz), reset, eoj}, [&] { return Prnt_EndDoc(&evenDuplex, PLATFORM_C); });

    // An odd duplex job has its last sheet closed by the machine-duplex command first.
    GDI_END_DOC_PARAM oddDuplex{3, 1};
    const SequenceItem machineDuplex = item(
        bytes("0B 04 40 B1"), "Prnt_EndDoc() :: MachineDuplexCmd Fail .\nSendMachineDuplexCmd() :: send "
                              "machineDuplexCmd Fail 0 ==  \n");
    expect_sequence({plain(zz), machineDuplex, plain(zz), query, plain(zz), reset, eoj},
                    [&] { return Prnt_EndDoc(&oddDuplex, PLATFORM_C); });

    expect_sequence({reset, eoj}, [&] { return Prnt_EndDoc(&oddDuplex, PLATFORM_Z); });

    expect_sequence({item(bytes("00 00 00 10 00 00 00 01 00 00 00 00 00 00 5A 5A"),
                          "Prnt_EndDoc() :: send END_DOC_CMD Fail 0 ==  \n"),
                     plain(str(UEL_CMD))},
                    [&] { return Prnt_EndDoc(&oddDuplex, PLATFORM_M); });
}

TEST_F(JobSequence, FailuresWithoutTextAndUnknownPlatforms)
{
    // The closing exit sequence of M fails the job end without a text of its own.
    GDI_END_DOC_PARAM end{1, 0};
    const CapturedRun m = run_captured([&] { return Prnt_EndDoc(&end, PLATFORM_M); }, 16);
    EXPECT_EQ(m.result, 0);
    EXPECT_EQ(m.error, "");

    GDI_START_DOC_PARAM start;
    for (int platform : {0, 4, -1}) {
        const CapturedRun s = run_captured([&] { return Prnt_StartDoc(&start, platform); });
        EXPECT_EQ(s.result, 0);
        EXPECT_EQ(s.out, "");
        const CapturedRun e = run_captured([&] { return Prnt_EndDoc(&end, platform); });
        EXPECT_EQ(e.result, 0);
        EXPECT_EQ(e.out, "");
    }
}

} // namespace
