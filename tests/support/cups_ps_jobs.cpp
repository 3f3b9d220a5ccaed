// SPDX-License-Identifier: GPL-2.0-or-later
// Printing on the PostScript models' queues and the references their data is
// compared with.
#include "cups_ps_jobs.h"

#include <cups/cups.h>

#include <pwd.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace varkon::test {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kJobTimeoutMs = 120000;

// The job's state once it has ended, or stopped because a filter failed;
// "timeout" when neither happens in time.
std::string final_job_state(const CupsdHarness &cupsd, int job_id)
{
    http_t *http =
        httpConnect2("127.0.0.1", cupsd.port(), nullptr, AF_INET, HTTP_ENCRYPTION_IF_REQUESTED, 1, 30000, nullptr);
    if (http == nullptr)
        return "no connection";
    const std::string uri = "ipp://" + cupsd.server() + "/jobs/" + std::to_string(job_id);
    const auto begin = Clock::now();
    std::string state = "timeout";
    while (Clock::now() - begin < std::chrono::milliseconds(kJobTimeoutMs)) {
        ipp_t *request = ippNewRequest(IPP_OP_GET_JOB_ATTRIBUTES);
        ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "job-uri", nullptr, uri.c_str());
        ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
        ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr, "job-state");
        ipp_t *response = cupsDoRequest(http, request, "/jobs/");
        const int value = ippGetInteger(ippFindAttribute(response, "job-state", IPP_TAG_ENUM), 0);
        ippDelete(response);
        if (value >= IPP_JSTATE_STOPPED) {
            state = ippEnumString("job-state", value);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    httpClose(http);
    return state;
}

struct Pgm {
    int width = 0, height = 0;
    std::string pixels;
};

// A binary PGM as ghostscript's pgmraw device writes it (comments allowed in the header).
Pgm read_pgm(const std::string &path)
{
    std::istringstream in(read_file(path));
    std::string magic;
    int fields[3] = {};
    in >> magic;
    for (int &field : fields) {
        while (in >> std::ws && in.peek() == '#') {
            std::string comment;
            std::getline(in, comment);
        }
        in >> field;
    }
    in.get();
    Pgm pgm;
    pgm.width = fields[0];
    pgm.height = fields[1];
    if (magic != "P5" || !in || fields[2] != 255 || pgm.width <= 0 || pgm.height <= 0)
        throw std::runtime_error("not a gray PGM: " + path);
    pgm.pixels.resize(static_cast<size_t>(pgm.width) * pgm.height);
    in.read(pgm.pixels.data(), static_cast<std::streamsize>(pgm.pixels.size()));
    if (!in)
        throw std::runtime_error("short PGM: " + path);
    return pgm;
}

// Upright ink lies left of and below the centre; a half turn puts it right and above.
PageWay way_of(const Pgm &page)
{
    double x = 0, y = 0;
    long ink = 0;
    for (int row = 0; row < page.height; ++row)
        for (int col = 0; col < page.width; ++col)
            if (static_cast<unsigned char>(page.pixels[static_cast<size_t>(row) * page.width + col]) < 128) {
                x += col;
                y += row;
                ++ink;
            }
    if (ink == 0)
        return PageWay::Unclear;
    const bool left = x / ink < page.width / 2.0, low = y / ink > page.height / 2.0;
    if (left && low)
        return PageWay::Upright;
    if (!left && !low)
        return PageWay::Turned;
    return PageWay::Unclear;
}

} // namespace

PrintedJob print_file(const CupsdHarness &cupsd, const std::string &queue, const std::string &output_dir,
                      const std::string &file, const std::vector<std::string> &lp_args)
{
    PrintedJob job;
    std::vector<std::string> argv = {"lp", "-d", queue};
    argv.insert(argv.end(), lp_args.begin(), lp_args.end());
    argv.push_back(file);
    const ProcessResult submitted = cupsd.run(argv);
    const std::string marker = "request id is " + queue + "-";
    const size_t at = submitted.out.find(marker);
    if (submitted.exit_code != 0 || at == std::string::npos) {
        job.state = "lp failed: " + submitted.out + submitted.err;
        return job;
    }
    job.id = std::stoi(submitted.out.substr(at + marker.size()));
    job.state = final_job_state(cupsd, job.id);
    job.log = cupsd.job_log(job.id);
    const std::string data = output_dir + "/job-" + std::to_string(job.id) + ".prn";
    if (std::filesystem::exists(data))
        job.data = read_file(data);
    return job;
}

std::string problem_lines(const std::string &job_log)
{
    std::istringstream lines(job_log);
    std::string line, problems;
    while (std::getline(lines, line))
        if (line.rfind("E [", 0) == 0 || line.rfind("W [", 0) == 0)
            problems += line + "\n";
    return problems;
}

std::string chain_postscript(const std::string &ppd, const std::string &file, const std::string &title,
                             const std::vector<std::string> &options)
{
    std::vector<std::string> argv = {"/usr/sbin/cupsfilter", "-p", ppd, "-m", "application/vnd.cups-postscript",
                                     "-J", title, "-U", current_user()};
    for (const auto &option : options) {
        argv.push_back("-o");
        argv.push_back(option);
    }
    argv.push_back(file);
    ProcessOptions run_options;
    run_options.timeout_ms = 120000;
    const ProcessResult result = run_process(argv, run_options);
    if (result.exit_code != 0 || result.out.empty())
        throw std::runtime_error("cupsfilter failed: " + result.err);
    return result.out;
}

std::string pjl_job_name_line(int job_id, const std::string &title)
{
    return "@PJL JOB NAME = \"" + title + "\" DISPLAY = \"" + std::to_string(job_id) + " " + current_user() + " " +
           title + "\"\n";
}

std::string undated(std::string postscript)
{
    const std::string key = "%%CreationDate:";
    for (size_t at = postscript.find(key); at != std::string::npos; at = postscript.find(key, at)) {
        const size_t end = postscript.find('\n', at);
        postscript.erase(at, end == std::string::npos ? std::string::npos : end - at + 1);
    }
    return postscript;
}

std::string current_user()
{
    const passwd *pw = getpwuid(getuid());
    return pw != nullptr ? pw->pw_name : cupsUser();
}

std::vector<PageWay> page_ways(const std::string &document)
{
    TempDir pages;
    const ProcessResult rendered =
        run_process({"/usr/bin/gs", "-q", "-dNOPAUSE", "-dBATCH", "-dSAFER", "-sDEVICE=pgmraw", "-r12",
                     "-sOutputFile=" + pages.file("page-%04d.pgm"), document});
    if (rendered.exit_code != 0)
        throw std::runtime_error("gs could not render " + document + ": " + rendered.err);
    std::vector<PageWay> ways;
    for (int n = 1;; ++n) {
        char name[32];
        std::snprintf(name, sizeof name, "page-%04d.pgm", n);
        if (!std::filesystem::exists(pages.file(name)))
            break;
        ways.push_back(way_of(read_pgm(pages.file(name))));
    }
    return ways;
}

} // namespace varkon::test
