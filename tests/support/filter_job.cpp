// SPDX-License-Identifier: GPL-2.0-or-later
// The real rastertoVarkon with a CUPS command line, a test PPD and a private TMPDIR.
#include "filter_job.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <stdexcept>
#include <thread>

namespace varkon::test {

TestPpd platform_ppd(int platform)
{
    TestPpd ppd;
    switch (platform) {
    case 1:
        ppd.modelName = "Varkon Belvar 210 Series";
        break;
    case 2:
        ppd.modelName = "Varkon Oskel 301 Series";
        break;
    case 3:
        ppd.modelName = "Varkon Nimbrel 41 Series";
        break;
    default:
        ppd.modelName = "Varkon Unknown Printer";
        break;
    }
    return ppd;
}

FilterJob::FilterJob(const TestPpd &ppd)
{
    ppd_path = write_test_ppd(dir.file("printer.ppd"), ppd);
    tmpdir = dir.file("tmp");
    mkdir(tmpdir.c_str(), 0700);
}

ProcessResult FilterJob::run_args(const std::vector<std::string> &args, const std::string &stdin_data)
{
    std::vector<std::string> argv = {built_program("rastertoVarkon/rastertoVarkon")};
    argv.insert(argv.end(), args.begin(), args.end());
    ProcessOptions options = process;
    options.env.push_back("PPD=" + ppd_path);
    options.env.push_back("TMPDIR=" + tmpdir);
    options.stdin_data = stdin_data;
    return run_process(argv, options);
}

ProcessResult FilterJob::run_stdin(const std::string &raster)
{
    return run_args({job_id, "user", title, "1", options}, raster);
}

ProcessResult FilterJob::run_file(const std::string &path)
{
    return run_args({job_id, "user", title, "1", options, path});
}

ProcessResult FilterJob::run_paused(const std::string &first, int pause_ms, const std::string &rest)
{
    const std::string fifo = dir.file("raster.fifo");
    unlink(fifo.c_str());
    if (mkfifo(fifo.c_str(), 0600) != 0)
        throw std::runtime_error("mkfifo failed");
    // The filter may stop reading before the rest is written.
    signal(SIGPIPE, SIG_IGN);
    std::thread writer([&] {
        const int fd = open(fifo.c_str(), O_WRONLY);
        if (fd < 0)
            return;
        (void)!write(fd, first.data(), first.size());
        std::this_thread::sleep_for(std::chrono::milliseconds(pause_ms));
        (void)!write(fd, rest.data(), rest.size());
        close(fd);
    });
    ProcessResult result = run_file(fifo);
    writer.join();
    return result;
}

std::vector<std::string> FilterJob::leftovers() const
{
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto &entry : std::filesystem::directory_iterator(tmpdir, ec))
        names.push_back(entry.path().filename().string());
    return names;
}

std::string without_job_time(std::string stream)
{
    const std::string key = "@PJL JOBTIME=";
    const size_t at = stream.find(key);
    if (at != std::string::npos)
        stream.erase(at + key.size(), stream.find("\r\n", at) - at - key.size());
    return stream;
}

} // namespace varkon::test
