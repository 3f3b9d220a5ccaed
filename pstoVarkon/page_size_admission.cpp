// SPDX-License-Identifier: GPL-2.0-or-later
// Page-size admission: the options first, then the page-size code in the PostScript.
#include "page_size_admission.h"

#include "line_reader.h"
#include "ppd_file.h"
#include "printer_text.h"
#include "text_search.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Custom sizes the printer can feed, in points, limits included.
constexpr float kMinWidth = 211, kMaxWidth = 613;
constexpr float kMinHeight = 418, kMaxHeight = 1010;

// A5 in points and how far a size may be off and still count.
constexpr long kA5Width = 420, kA5Height = 595, kA5Tolerance = 2;

constexpr std::string_view kPageDictionary = "<</Type/Page/MediaBox";
constexpr std::string_view kPageDictionaryFrom0 = "<</Type/Page/MediaBox [0 0";
constexpr std::string_view kPageSetupCall = " pdfSetupPaper";
constexpr std::string_view kPageSetup = "pdfSetupPaper";

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// From `pos`, skips to the next decimal digit and takes the text up to the next
// blank, ']' or the end of the line (so a sign is dropped).
std::string next_number(const std::string &line, std::size_t &pos)
{
    while (pos < line.size() && !is_digit(line[pos]))
        ++pos;
    const std::size_t start = pos;
    while (pos < line.size() && line[pos] != ' ' && line[pos] != '\t' && line[pos] != ']')
        ++pos;
    return line.substr(start, pos - start);
}

float points(const std::string &number) { return std::strtof(number.c_str(), nullptr); }

bool fits_printer(float w, float h)
{
    return w >= kMinWidth && w <= kMaxWidth && h >= kMinHeight && h <= kMaxHeight;
}

bool page_dictionary_fits(const char *path)
{
    const auto line = varkon::first_line_containing(path, kPageDictionary);
    return !line || varkon::dictionary_line_fits(*line).value_or(true);
}

bool page_setup_call_fits(const char *path)
{
    const auto line = varkon::first_line_containing(path, kPageSetupCall);
    return !line || varkon::setup_call_line_fits(*line);
}

bool is_custom_job(const varkon::JobOptions &options)
{
    const char *size = options.get("PageSize");
    if (size != nullptr) {
        std::fprintf(stderr, "PageSize:%s\n", varkon::loggable_printer_text(size).c_str());
    } else {
        size = options.get("media");
        if (size == nullptr)
            return false;
        std::fprintf(stderr, "media=%s\n", varkon::loggable_printer_text(size).c_str());
    }
    return varkon::contains_nocase(size, "Custom");
}

// Value of a run of decimal digits; -1 when it is too long to be a page size.
long digit_run_value(std::string_view run)
{
    long value = -1;
    if (run.empty() || run.size() > 9 || std::from_chars(run.data(), run.data() + run.size(), value).ec != std::errc())
        return -1;
    return value;
}

// The first two runs of digits after the page dictionary's opening.
varkon::PageSize size_after(std::string_view text)
{
    varkon::PageSize size;
    long *targets[] = {&size.width, &size.height};
    std::size_t pos = 0;
    for (long *target : targets) {
        while (pos < text.size() && !is_digit(text[pos]))
            ++pos;
        const std::size_t start = pos;
        while (pos < text.size() && is_digit(text[pos]))
            ++pos;
        *target = digit_run_value(text.substr(start, pos - start));
    }
    return size;
}

// The two runs of digits nearest before the page-setup call: width, then height.
varkon::PageSize size_before(std::string_view text)
{
    varkon::PageSize size;
    long *targets[] = {&size.height, &size.width};
    std::size_t end = text.size();
    for (long *target : targets) {
        while (end > 0 && !is_digit(text[end - 1]))
            --end;
        std::size_t start = end;
        while (start > 0 && is_digit(text[start - 1]))
            --start;
        *target = digit_run_value(text.substr(start, end - start));
        end = start;
    }
    return size;
}

// The page size of the first line that states one; nothing when no line does.
std::optional<varkon::PageSize> first_stated_size(std::FILE *file)
{
    varkon::LineReader reader(file);
    std::string line;
    while (reader.next(line))
        if (auto size = varkon::stated_page_size(line))
            return size;
    return std::nullopt;
}

bool is_a5(const varkon::PageSize &size)
{
    return std::labs(size.width - kA5Width) <= kA5Tolerance && std::labs(size.height - kA5Height) <= kA5Tolerance;
}

bool file_states_a5(const char *path)
{
    const varkon::File file(path != nullptr ? std::fopen(path, "rb") : nullptr);
    if (!file) {
        std::fprintf(stderr, "%s open file %s failed!,code:%d\n", "isA5PageSize", path ? path : "", errno);
        return false;
    }
    const auto size = first_stated_size(file.get());
    return size && is_a5(*size);
}

// A5 prints long edge first unless the job or the PPD default says otherwise.
bool fed_long_edge_first(const varkon::JobOptions &options)
{
    if (const char *edge = options.get("FeedEdge")) {
        std::fprintf(stderr, "FeedEdge=%s\n", varkon::loggable_printer_text(edge).c_str());
        const bool long_edge = varkon::contains_nocase(edge, "LongEdge");
        std::fputs(long_edge ? "LongEdge =true\n" : "LongEdge =false\n", stderr);
        return long_edge;
    }
    const varkon::PpdFile ppd = varkon::open_job_ppd();
    ppd_option_t *option = ppd ? ppdFindOption(ppd.get(), "FeedEdge") : nullptr;
    if (option == nullptr)
        return true;
    return varkon::contains_nocase(option->defchoice, "LongEdge");
}

} // namespace

std::optional<bool> varkon::dictionary_line_fits(const std::string &line)
{
    const std::size_t open = line.find('[');
    if (open == std::string::npos || line.find(']') == std::string::npos)
        return std::nullopt;
    std::size_t pos = open;
    const std::string left = next_number(line, pos), top = next_number(line, pos);
    const std::string right = next_number(line, pos), bottom = next_number(line, pos);
    std::fprintf(stderr, "left:%s,top:%s,right:%s,bottom:%s\n", varkon::loggable_printer_text(left.c_str()).c_str(),
                 varkon::loggable_printer_text(top.c_str()).c_str(),
                 varkon::loggable_printer_text(right.c_str()).c_str(),
                 varkon::loggable_printer_text(bottom.c_str()).c_str());
    return fits_printer(points(right) - points(left), points(bottom) - points(top));
}

bool varkon::setup_call_line_fits(const std::string &line)
{
    std::size_t pos = 0;
    const std::string w = next_number(line, pos), h = next_number(line, pos);
    std::fprintf(stderr, "pdfsetuppaper:width;%s,height:%s\n", loggable_printer_text(w.c_str()).c_str(),
                 loggable_printer_text(h.c_str()).c_str());
    return fits_printer(points(w), points(h));
}

std::optional<varkon::PageSize> varkon::stated_page_size(std::string_view line)
{
    const std::size_t dict = find_nocase(line, kPageDictionaryFrom0);
    if (dict != std::string_view::npos)
        return size_after(line.substr(dict + kPageDictionaryFrom0.size()));
    const std::size_t call = find_nocase(line, kPageSetup);
    if (call != std::string_view::npos && call > 0 && line[call - 1] != '/')
        return size_before(line.substr(0, call));
    return std::nullopt;
}

std::optional<std::string> varkon::first_line_containing(const char *path, std::string_view pattern)
{
    const File file(path != nullptr ? std::fopen(path, "rb") : nullptr);
    if (!file)
        return std::nullopt;
    LineReader reader(file.get());
    std::string line;
    while (reader.next(line))
        if (contains_nocase(line, pattern))
            return without_line_end(std::move(line));
    return std::nullopt;
}

int isSupportCustomPageSize(const char *options, const char *workingPath)
{
    const varkon::JobOptions job(options);
    if (!is_custom_job(job))
        return 1;
    if (!page_dictionary_fits(workingPath))
        return 0;
    return page_setup_call_fits(workingPath) ? 1 : 0;
}

bool isA5PageSize(const char *options, const char *workingPath)
{
    const varkon::JobOptions job(options);
    const char *size = job.get("PageSize");
    const bool a5 = size != nullptr ? varkon::contains(size, "A5") : file_states_a5(workingPath);
    return a5 && fed_long_edge_first(job);
}
