// SPDX-License-Identifier: GPL-2.0-or-later
// The varkontest backend on its own, with a side channel made here the way
// cupsd makes it (a socket pair on descriptor 4), and behind a real scheduler.
#include "cupsd_harness.h"
#include "run_process.h"

#include <cups/sidechannel.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

namespace {

using varkon::test::ProcessOptions;
using varkon::test::ProcessResult;
using varkon::test::read_file;
using varkon::test::TempDir;
using varkon::test::varkontest_uri;

const std::string kBackend = varkon::test::built_program("tests/backend/varkontest");

ProcessResult run_backend(const std::string &uri, const std::string &data, const std::string &job_id = "7",
                          const std::vector<std::string> &extra_args = {})
{
    ProcessOptions options;
    options.env = {"DEVICE_URI=" + uri};
    options.stdin_data = data;
    std::vector<std::string> argv = {kBackend, job_id, "user", "title", "1", ""};
    argv.insert(argv.end(), extra_args.begin(), extra_args.end());
    return varkon::test::run_process(argv, options);
}

TEST(VarkontestBackend, WritesTheJobDataToTheUriFile)
{
    TempDir dir;
    const std::string data("\x1b%-12345X@PJL\r\n\0\0\xff", 16);
    const ProcessResult result = run_backend(varkontest_uri(dir.file("out.prn")), data);
    EXPECT_EQ(result.exit_code, 0) << result.err;
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(read_file(dir.file("out.prn")), data);
    EXPECT_FALSE(std::filesystem::exists(dir.file("out.prn.part")));
}

TEST(VarkontestBackend, DirectoryUriGivesOneFilePerJob)
{
    TempDir dir;
    EXPECT_EQ(run_backend(varkontest_uri(dir.path() + "/"), "first", "12").exit_code, 0);
    EXPECT_EQ(run_backend(varkontest_uri(dir.path() + "/"), "second", "13").exit_code, 0);
    EXPECT_EQ(read_file(dir.file("job-12.prn")), "first");
    EXPECT_EQ(read_file(dir.file("job-13.prn")), "second");

    // The job id becomes part of a path: only a number is taken.
    const ProcessResult bad = run_backend(varkontest_uri(dir.path() + "/"), "x", "../escape");
    EXPECT_EQ(bad.exit_code, 1);
    EXPECT_NE(bad.err.find("ERROR: varkontest: job id"), std::string::npos) << bad.err;
    EXPECT_FALSE(std::filesystem::exists(dir.path() + "/../escape.prn"));
}

TEST(VarkontestBackend, ReadsAFileArgument)
{
    TempDir dir;
    varkon::test::write_file(dir.file("job.in"), "from a file");
    const ProcessResult result = run_backend(varkontest_uri(dir.file("out.prn")), "", "7", {dir.file("job.in")});
    EXPECT_EQ(result.exit_code, 0) << result.err;
    EXPECT_EQ(read_file(dir.file("out.prn")), "from a file");
}

// Without a side channel the job file may be opened as descriptor 4, the
// side channel's number: it must still be read as the job.
TEST(VarkontestBackend, AFileOnDescriptor4IsNotTakenForTheSideChannel)
{
    TempDir dir;
    varkon::test::write_file(dir.file("job.in"), "from a file");
    const std::string device = "DEVICE_URI=" + varkontest_uri(dir.file("out.prn"));
    const std::string in = dir.file("job.in");
    const pid_t pid = fork();
    if (pid == 0) {
        const int null = open("/dev/null", O_RDWR);
        for (int fd = 0; fd <= 3; ++fd)
            dup2(null, fd);
        close(4);
        char *argv[] = {const_cast<char *>(kBackend.c_str()), const_cast<char *>("7"), const_cast<char *>("u"),
                        const_cast<char *>("t"), const_cast<char *>("1"), const_cast<char *>(""),
                        const_cast<char *>(in.c_str()), nullptr};
        char *envp[] = {const_cast<char *>(device.c_str()), nullptr};
        execve(argv[0], argv, envp);
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(read_file(dir.file("out.prn")), "from a file");
}

TEST(VarkontestBackend, RefusesBadUris)
{
    TempDir dir;
    for (const std::string &uri : {std::string("file:") + dir.file("x"), std::string("varkontest:relative/x.prn"),
                                   "varkontest:" + dir.file("x") + "?device-id=MFG%3", std::string("varkontest:")}) {
        const ProcessResult result = run_backend(uri, "data");
        EXPECT_EQ(result.exit_code, 1) << uri;
        EXPECT_NE(result.err.find("ERROR: varkontest: bad device URI"), std::string::npos) << result.err;
    }
    const ProcessResult unwritable = run_backend(varkontest_uri(dir.file("no/such/dir/x.prn")), "data");
    EXPECT_EQ(unwritable.exit_code, 1);
    EXPECT_NE(unwritable.err.find("ERROR: varkontest: cannot create"), std::string::npos) << unwritable.err;
}

TEST(VarkontestBackend, ListsItselfForLpinfo)
{
    const ProcessResult result = varkon::test::run_process({kBackend});
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_EQ(result.out.rfind("direct varkontest ", 0), 0u) << result.out;
}

// A backend started as cupsd starts one: job data on a pipe, the side channel
// on descriptor 4, stderr into a file.
class RunningBackend {
public:
    RunningBackend(const std::string &uri, const std::string &err_path)
    {
        int in[2], sc[2];
        if (pipe2(in, O_CLOEXEC) != 0 || socketpair(AF_LOCAL, SOCK_STREAM | SOCK_CLOEXEC, 0, sc) != 0)
            throw std::runtime_error("pipe or socketpair failed");
        const std::string device = "DEVICE_URI=" + uri;
        pid_ = fork();
        if (pid_ == 0) {
            const int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(in[0], 0);
            dup2(sc[1], CUPS_SC_FD);
            dup2(err, 2);
            char *argv[] = {const_cast<char *>(kBackend.c_str()), const_cast<char *>("3"), const_cast<char *>("u"),
                            const_cast<char *>("t"), const_cast<char *>("1"), const_cast<char *>(""), nullptr};
            char *envp[] = {const_cast<char *>(device.c_str()), nullptr};
            execve(argv[0], argv, envp);
            _exit(127);
        }
        close(in[0]);
        close(sc[1]);
        data_ = in[1];
        side_ = sc[0];
    }

    ~RunningBackend()
    {
        if (data_ >= 0)
            close(data_);
        close(side_);
        if (pid_ > 0)
            waitpid(pid_, nullptr, 0);
    }

    // The request a filter makes with cupsSideChannelDoRequest, from this process.
    cups_sc_status_t request(cups_sc_command_t command, std::string *reply)
    {
        const int saved = dup(CUPS_SC_FD);
        dup2(side_, CUPS_SC_FD);
        char data[2048];
        int length = sizeof data;
        const cups_sc_status_t status = cupsSideChannelDoRequest(command, data, &length, 10.0);
        if (saved >= 0) {
            dup2(saved, CUPS_SC_FD);
            close(saved);
        } else {
            close(CUPS_SC_FD);
        }
        reply->assign(data, length > 0 ? static_cast<size_t>(length) : 0);
        return status;
    }

    void send(const std::string &data) { ASSERT_EQ(write(data_, data.data(), data.size()), ssize_t(data.size())); }
    void terminate() { kill(pid_, SIGTERM); }

    // Closes the job data and returns the exit status.
    int finish()
    {
        close(data_);
        data_ = -1;
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    pid_t pid_ = -1;
    int data_ = -1, side_ = -1;
};

TEST(VarkontestBackend, SideChannelAnswersTheDeviceIdAndNothingElse)
{
    TempDir dir;
    const std::string id = "MFG:Varkon;MDL:Halvex 7 series;CLS:PRINTER;";
    RunningBackend backend(varkontest_uri(dir.file("out.prn"), id), dir.file("err"));
    backend.send("before ");

    std::string reply;
    EXPECT_EQ(backend.request(CUPS_SC_CMD_GET_DEVICE_ID, &reply), CUPS_SC_STATUS_OK);
    EXPECT_EQ(reply, id);
    EXPECT_EQ(backend.request(CUPS_SC_CMD_GET_STATE, &reply), CUPS_SC_STATUS_NOT_IMPLEMENTED);
    EXPECT_EQ(backend.request(CUPS_SC_CMD_DRAIN_OUTPUT, &reply), CUPS_SC_STATUS_NOT_IMPLEMENTED);
    // Asked again, the same answer: filters query more than once.
    EXPECT_EQ(backend.request(CUPS_SC_CMD_GET_DEVICE_ID, &reply), CUPS_SC_STATUS_OK);
    EXPECT_EQ(reply, id);

    backend.send("after");
    EXPECT_EQ(backend.finish(), 0) << read_file(dir.file("err"));
    EXPECT_EQ(read_file(dir.file("out.prn")), "before after");
}

TEST(VarkontestBackend, WithoutADeviceIdTheQueryIsNotImplemented)
{
    TempDir dir;
    RunningBackend backend(varkontest_uri(dir.file("out.prn")), dir.file("err"));
    std::string reply = "unchanged";
    EXPECT_EQ(backend.request(CUPS_SC_CMD_GET_DEVICE_ID, &reply), CUPS_SC_STATUS_NOT_IMPLEMENTED);
    EXPECT_EQ(reply, "");
    EXPECT_EQ(backend.finish(), 0);
}

// A cancelled job's filter still sends its job end after SIGTERM: the backend
// keeps reading until the filter closes the pipe.
TEST(VarkontestBackend, KeepsReadingAfterSigterm)
{
    TempDir dir;
    RunningBackend backend(varkontest_uri(dir.file("out.prn")), dir.file("err"));
    backend.send("page ");
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    backend.terminate();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    backend.send("job end");
    EXPECT_EQ(backend.finish(), 0) << read_file(dir.file("err"));
    EXPECT_EQ(read_file(dir.file("out.prn")), "page job end");
}

// Behind the scheduler: a raw queue hands the file to the backend unchanged.
TEST(VarkontestBackend, ReceivesARawJobFromCupsd)
{
    TempDir dir;
    varkon::test::CupsdHarness cupsd;
    const std::string out = dir.path() + "/";
    ASSERT_EQ(cupsd.add_queue("raw", varkontest_uri(out), "raw").exit_code, 0);
    const std::string data("\x1b%-12345X@PJL ENTER LANGUAGE=PL\r\n\x00\x00\x0b\x05\x1f", 37);
    varkon::test::write_file(dir.file("job.bin"), data);
    std::string error;
    const int job = cupsd.submit("raw", dir.file("job.bin"), {"raw"}, &error);
    ASSERT_GT(job, 0) << error;
    const auto outcome = cupsd.wait_for_job(job, 60000);
    ASSERT_TRUE(outcome.completed()) << outcome.state << " " << outcome.reasons << "\n" << cupsd.job_log(job);
    EXPECT_EQ(read_file(dir.file("job-" + std::to_string(job) + ".prn")), data);
}

} // namespace
