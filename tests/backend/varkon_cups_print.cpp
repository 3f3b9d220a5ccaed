// SPDX-License-Identifier: GPL-2.0-or-later
// varkon-cups-print: prints a document through a private CUPS scheduler onto
// the varkontest backend and saves the printer data, so that scripts can run
// the real CUPS filter chain (pdftopdf, gstoraster, rastertoVarkon) without
// touching the system's CUPS.
//
//   varkon-cups-print [-o name=value]... [--device-id ID] [--log FILE] MODEL INPUT OUTPUT
//   varkon-cups-print --ppd MODEL      path of the model's generated PPD
//   varkon-cups-print --list           every model and its PPD path
//
// MODEL is the PPD ModelName, e.g. "Varkon Oskel 301 Series". Exit status 0
// when the job completed and OUTPUT holds its data; 1 otherwise, with the
// scheduler's log of the job on stderr. --log FILE keeps that log in any case.
#include "cupsd_harness.h"
#include "model_table.h"

#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using varkon::test::CupsdHarness;

int usage()
{
    std::fputs("usage: varkon-cups-print [-o name=value]... [--device-id ID] [--log FILE] MODEL INPUT OUTPUT\n"
               "       varkon-cups-print --ppd MODEL\n"
               "       varkon-cups-print --list\n",
               stderr);
    return 2;
}

int list_models()
{
    for (const auto &model : varkon::kVarkonModels)
        std::printf("%s\t%s\n", model.modelName, varkon::test::varkon_ppd_path(model.modelName).c_str());
    return 0;
}

int print_ppd_path(const char *model)
{
    const std::string path = varkon::test::varkon_ppd_path(model);
    if (path.empty()) {
        std::fprintf(stderr, "varkon-cups-print: no PPD for \"%s\" (see --list)\n", model);
        return 1;
    }
    std::puts(path.c_str());
    return 0;
}

struct Job {
    std::string model, input, output, device_id, log;
    std::vector<std::string> options;
};

int print_job(const Job &job)
{
    const std::string ppd = varkon::test::varkon_ppd_name(job.model);
    if (ppd.empty()) {
        std::fprintf(stderr, "varkon-cups-print: no PPD for \"%s\" (see --list)\n", job.model.c_str());
        return 1;
    }
    const std::string input = std::filesystem::absolute(job.input).string();
    varkon::test::TempDir spool;
    std::filesystem::permissions(spool.path(), std::filesystem::perms(0755));
    CupsdHarness cupsd;
    const auto added = cupsd.add_queue("varkon", varkon::test::varkontest_uri(spool.path() + "/", job.device_id), ppd);
    if (added.exit_code != 0) {
        std::fprintf(stderr, "varkon-cups-print: lpadmin failed: %s", added.err.c_str());
        return 1;
    }
    std::string error;
    const int id = cupsd.submit("varkon", input, job.options, &error);
    if (id < 0) {
        std::fprintf(stderr, "varkon-cups-print: lp failed: %s", error.c_str());
        return 1;
    }
    const auto outcome = cupsd.wait_for_job(id, 600000);
    if (!job.log.empty())
        varkon::test::write_file(job.log, cupsd.job_log(id));
    const std::string data = spool.file("job-" + std::to_string(id) + ".prn");
    if (!outcome.completed() || !std::filesystem::exists(data)) {
        std::fprintf(stderr, "varkon-cups-print: job %s (%s)\n%s", outcome.state.c_str(), outcome.reasons.c_str(),
                     cupsd.job_log(id).c_str());
        return 1;
    }
    std::filesystem::copy_file(data, job.output, std::filesystem::copy_options::overwrite_existing);
    std::fprintf(stderr, "varkon-cups-print: %s printed on \"%s\" to %s\n", job.input.c_str(), job.model.c_str(),
                 job.output.c_str());
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    Job job;
    std::vector<std::string> positional;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--list" && argc == 2)
            return list_models();
        if (arg == "--ppd" && argc == 3)
            return print_ppd_path(argv[2]);
        if (arg == "-o" && i + 1 < argc)
            job.options.push_back(argv[++i]);
        else if (arg == "--device-id" && i + 1 < argc)
            job.device_id = argv[++i];
        else if (arg == "--log" && i + 1 < argc)
            job.log = argv[++i];
        else if (!arg.empty() && arg[0] == '-')
            return usage();
        else
            positional.push_back(arg);
    }
    if (positional.size() != 3)
        return usage();
    job.model = positional[0];
    job.input = positional[1];
    job.output = positional[2];
    try {
        return print_job(job);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "varkon-cups-print: %s\n", e.what());
        return 1;
    }
}
