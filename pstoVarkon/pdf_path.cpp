// SPDX-License-Identifier: GPL-2.0-or-later
// PDF path: duplex rotation with qpdf and conversion with the CUPS pdftops filter.
#include "pdf_path.h"

#include "external_tool.h"
#include "job_flow.h"
#include "ppd_file.h"
#include "printer_families.h"
#include "temp_file.h"
#include "text_search.h"

#include <strings.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <sstream>
#include <vector>

namespace {

constexpr double kFirstCurrentQpdf = 8.0;

// qpdf ends with 3 when it repaired the input and wrote the output all the same.
constexpr int kQpdfSuccess = 0, kQpdfWarnings = 3;

// Removed before conversion: the filter makes copies itself, and the page
// selection and layout options would be applied twice.
constexpr const char *kOptionsNotForPdftops[] = {
    "page-set", "noCollate", "Collate", "number-up", "OutputOrder", "number-up-layout", "orientation-requested",
};

// Whether the third blank-separated field of a "qpdf version" line is
// kFirstCurrentQpdf or later.
bool names_current_version(const std::string &line)
{
    std::istringstream fields(line);
    std::string program, word, version;
    if (!(fields >> program >> word >> version))
        return false;
    return std::strtod(version.c_str(), nullptr) >= kFirstCurrentQpdf;
}

// The job's own two-sided choice, when it names one without the words above:
// CUPS sends "Duplex=None" or "Duplex=DuplexTumble" (and "sides=...") for a
// one-sided or short-edge job, never "noDuplex". Without this, a queue whose
// default is long edge would turn the even pages of those jobs upside down.
std::optional<bool> explicit_long_edge(const char *options)
{
    cups_option_t *parsed = nullptr;
    const int count = cupsParseOptions(options, 0, &parsed);
    std::optional<bool> choice;
    if (const char *duplex = cupsGetOption("Duplex", count, parsed))
        choice = strcasecmp(duplex, "DuplexNoTumble") == 0;
    else if (const char *sides = cupsGetOption("sides", count, parsed))
        choice = strcasecmp(sides, "two-sided-long-edge") == 0;
    cupsFreeOptions(count, parsed);
    return choice;
}

bool long_edge_duplex(const char *options)
{
    const std::string_view text = options != nullptr ? options : "";
    if (varkon::contains(text, "noDuplex") || varkon::contains(text, "DuplexNoTumble"))
        return varkon::contains(text, "DuplexNoTumble");
    if (const std::optional<bool> choice = explicit_long_edge(options))
        return *choice;
    const varkon::PpdFile ppd = varkon::open_job_ppd();
    const ppd_option_t *duplex = ppd ? ppdFindOption(ppd.get(), "Duplex") : nullptr;
    return duplex != nullptr && strcasecmp(duplex->defchoice, "DuplexNoTumble") == 0;
}

bool halvex_printer_now()
{
    char id[kDeviceIdField] = {};
    int length = static_cast<int>(kDeviceIdField) - 1;
    const bool have_id = query1284info(id, &length);
    return isHalvexPrinter(id, have_id);
}

// Installs `replacement` as the working file and removes the file it supersedes.
void replace_working_file(char *working_path, const std::string &replacement, char **argv)
{
    if (varkon::filter_owns(working_path, argv))
        unlink(working_path);
    std::snprintf(working_path, kWorkingPathField, "%s", replacement.c_str());
}

int page_count(const char *qpdf, const char *path, bool &started)
{
    const varkon::ToolResult result = varkon::run_tool({qpdf, "--show-npages", path}, varkon::ToolOutput::Capture);
    started = result.started();
    return std::atoi(varkon::first_output_line(result.output).c_str());
}

} // namespace

std::string varkon::even_page_list(int count)
{
    std::string list;
    for (int page = 2; page <= count; page += 2) {
        if (!list.empty())
            list += ',';
        list += std::to_string(page);
    }
    return list;
}

bool varkon::qpdf_is_current(const PdfTools &tools)
{
    const ToolResult result = run_tool({tools.qpdf, "--version"}, ToolOutput::Capture);
    if (!result.started()) {
        std::fputs("Unable to get the version of qpdf!", stderr);
        return false;
    }
    std::istringstream lines(result.output);
    std::string line;
    while (std::getline(lines, line))
        if (contains(line, "qpdf version") && names_current_version(line))
            return true;
    return false;
}

void varkon::rotate_duplex(char **argv, char *workingPath, const PdfTools &tools)
{
    const char *qpdf = qpdf_is_current(tools) ? tools.qpdf : tools.maker_qpdf;
    if (!halvex_printer_now() || !long_edge_duplex(argv[5]))
        return;

    TempFile rotated(kWorkingPathField);
    if (!rotated.valid()) {
        std::fputs("DEBUG: Unable to creat temp file.\n", stderr);
        return;
    }
    rotated.close_fd();
    bool started = false;
    const int pages = page_count(qpdf, workingPath, started);
    if (!started) {
        std::fputs("Unable get page count of the inputfile!", stderr);
        return;
    }
    if (pages <= 1) {
        std::fprintf(stderr, "The page count is %d!\n", pages);
        return;
    }
    const std::string rotate = "--rotate=+180:" + even_page_list(pages);
    const ToolResult result = run_tool({qpdf, workingPath, rotated.path(), rotate}, ToolOutput::ToStderr);
    // A failed rotation must not cost the document: it is printed unturned.
    if ((result.exit_status != kQpdfSuccess && result.exit_status != kQpdfWarnings) || !rotated.has_data()) {
        std::fprintf(stderr, "DEBUG: Page rotation failed (status %d), printing without it.\n", result.exit_status);
        return;
    }
    replace_working_file(workingPath, rotated.release(), argv);
}

int varkon::convert_to_ps(char *workingPath, char **argv, const PdfTools &tools)
{
    if (workingPath == nullptr || argv == nullptr) {
        std::fputs("DEBUG: Illegal input parameter.\n", stderr);
        return -1;
    }
    const char *text = argv[5] != nullptr ? argv[5] : "";
    std::vector<char> options(text, text + std::strlen(text) + 1);
    for (const char *name : kOptionsNotForPdftops)
        removestr(options.data(), name, " ");

    TempFile converted(kWorkingPathField);
    if (!converted.valid()) {
        std::fputs("DEBUG: Unable to creat tmp_pstopdf file.\n", stderr);
        return -1;
    }
    const auto arg = [](const char *a) { return std::string(a != nullptr ? a : ""); };
    const ToolResult result = run_tool(
        {tools.pdftops, arg(argv[1]), arg(argv[2]), arg(argv[3]), "1", options.data(), workingPath},
        ToolOutput::ToFd, converted.fd());
    if (!result.started()) {
        std::fprintf(stderr, "DEBUG: Unable to excute pdftops,err is %d\n", result.spawn_error);
        return -1;
    }
    if (result.exit_status != 0 || !converted.has_data()) {
        std::fprintf(stderr, "DEBUG: pdftops failed (status %d).\n", result.exit_status);
        return -1;
    }
    replace_working_file(workingPath, converted.release(), argv);
    return 1;
}

void CreatRotateDuplex(char **argv, char *workingPath)
{
    varkon::rotate_duplex(argv, workingPath, varkon::kSystemTools);
}

bool getqpdfversion() { return varkon::qpdf_is_current(varkon::kSystemTools); }

int pdf2ps(char *workingPath, char **argv) { return varkon::convert_to_ps(workingPath, argv, varkon::kSystemTools); }

void removestr(char *text, const char *name, const char *separator)
{
    if (text == nullptr || name == nullptr || separator == nullptr) {
        std::fputs("the parameters is invalid!", stderr);
        return;
    }
    char *at = std::strstr(text, name);
    if (at == nullptr)
        return;
    char *separator_at = std::strstr(at, separator);
    if (separator_at == nullptr) {
        *at = '\0'; // the last option of the text goes as well
        return;
    }
    const char *rest = separator_at + std::strlen(separator);
    std::memmove(at, rest, std::strlen(rest) + 1);
}
