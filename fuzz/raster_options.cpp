// SPDX-License-Identifier: GPL-2.0-or-later
// The raster filter's option and paper evaluation on fuzzed texts: the model
// and PlatForm lookups, GetPaperArrayIndex and isCutThePaper on fuzzed page
// sizes in every table, GetFunctionValue on options as libcups parses them, and
// checkOptionKey with a PPD whose option defaults and driver texts are fuzzed.
//
// Input: a model-name choice, a PlatForm choice, two page-size words, the
// header's Duplex and Tumble, the choices of the PPD defaults, the padding and
// start of the options text, then the options text.
#include "fuzz_input.h"
#include "ppd_closer.h"
#include "raster_fuzz_ppd.h"

#include "job_options.h"
#include "model_table.h"
#include "paper_tables.h"
#include "platform.h"

#include <cups/cups.h>
#include <cups/ppd.h>
#include <sys/mman.h>
#include <unistd.h>

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <memory>
#include <string>

using varkon::fuzz::require;

namespace {

constexpr size_t kParametersSize = 8192;

struct TableOfPlatform {
    const PAPER_SIZE_INFO *table;
    int rows;
    int platform;
};

// Groups 1 to 4 of the model table, in order.
constexpr TableOfPlatform kGroups[] = {
    {gPaperSizeArray_Belvar, kBelvarRows, PLATFORM_C},
    {gPaperSizeArray_BelvarMFP, kBelvarMFPRows, PLATFORM_C},
    {gPaperSizeArray_Oskel_Drevan, kOskelDrevanRows, PLATFORM_Z},
    {gPaperSizeArray_Nimbrel_Sarvel, kNimbrelSarvelRows, PLATFORM_M},
};

constexpr size_t kModelCount = std::size(varkon::kVarkonModels);

// A model name of the table, the same with one letter's case turned, or any text.
std::string model_name(varkon::fuzz::FuzzInput &input)
{
    const size_t choice = input.byte();
    if (choice >= 2 * kModelCount)
        return input.text(48);
    std::string name = varkon::kVarkonModels[choice / 2].modelName;
    if (choice % 2 == 1) {
        char &c = name[input.byte() % name.size()];
        c = static_cast<char>(std::isupper(static_cast<unsigned char>(c)) ? std::tolower(c) : std::toupper(c));
    }
    return name;
}

// One of the three PlatForm texts in a case the mask picks, or any text.
std::string platform_text(varkon::fuzz::FuzzInput &input)
{
    static const char *const kTexts[] = {"PLATFORM_C", "PLATFORM_Z", "PLATFORM_M"};
    const uint8_t choice = input.byte();
    if (choice >= 3)
        return input.text(16);
    std::string text = kTexts[choice];
    const uint16_t mask = input.u16();
    for (size_t i = 0; i < text.size(); ++i)
        if (mask & (1u << i))
            text[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[i])));
    return text;
}

void check_model_lookup(const std::string &text)
{
    // The lookup takes a C string: a fuzzed text ends at its first NUL there.
    const std::string name(text.c_str());
    int platform = -1;
    const PAPER_SIZE_INFO *table = GetPaperSizeArray(name.c_str(), &platform);
    const varkon::VarkonModel *model = nullptr;
    for (const auto &candidate : varkon::kVarkonModels)
        if (model == nullptr && name == candidate.modelName)
            model = &candidate;
    if (model == nullptr) {
        require(platform == PLATFORM_NONE && table == nullptr, "a name outside the model table finds nothing");
        return;
    }
    const TableOfPlatform &group = kGroups[model->group - 1];
    require(platform == group.platform && table == group.table, "a model finds its group's platform and table");
}

void check_platform_text(const std::string &text)
{
    int platform = -1;
    const PAPER_SIZE_INFO *table = varkon::platform_paper_table(text.c_str(), &platform);
    if (strcasecmp(text.c_str(), "PLATFORM_C") == 0)
        require(platform == PLATFORM_C && table == gPaperSizeArray_Belvar, "PLATFORM_C in any case is C");
    else if (strcasecmp(text.c_str(), "PLATFORM_Z") == 0)
        require(platform == PLATFORM_Z && table == gPaperSizeArray_Oskel_Drevan, "PLATFORM_Z in any case is Z");
    else if (strcasecmp(text.c_str(), "PLATFORM_M") == 0)
        require(platform == PLATFORM_M && table == gPaperSizeArray_Nimbrel_Sarvel, "PLATFORM_M in any case is M");
    else
        require(platform == PLATFORM_NONE && table == nullptr, "any other PlatForm text names no platform");
}

bool row_fits(const PAPER_SIZE_INFO &row, const unsigned size[2])
{
    return size[0] == static_cast<unsigned>(row.cupsPaperW) && size[1] == static_cast<unsigned>(row.cupsPaperH);
}

void check_paper_index(const TableOfPlatform &group, const unsigned size[2])
{
    const int32_t before = static_cast<int32_t>(size[0] ^ size[1]);
    int32_t feed = before;
    const int index = GetPaperArrayIndex(size, group.table, &feed);
    if (size[0] == 421 && size[1] == 595) {
        require(index == 0 && feed == 1, "421 x 595 is the A5 row fed long edge");
        return;
    }
    require(feed == before, "only 421 x 595 turns long-edge feed on");
    int first = -1;
    for (int i = 0; i < group.rows && first < 0; ++i)
        if (row_fits(group.table[i], size))
            first = i;
    require(index == first, "the index is the first row of exactly this size, or -1");
}

void check_cut_paper(const TableOfPlatform &group, const cups_page_header2_t &header, int count,
                     cups_option_t *options)
{
    cups_page_header2_t cut = header;
    isCutThePaper(&cut, group.table, count, options);
    const bool oversize = header.PageSize[0] > 612 && header.PageSize[1] > 1008;
    const char *pageSize = cupsGetOption("PageSize", count, options);
    const PAPER_SIZE_INFO *named = nullptr;
    for (int i = 0; i < group.rows && named == nullptr && pageSize != nullptr; ++i)
        if (std::strcmp(group.table[i].strPageSize, pageSize) == 0)
            named = &group.table[i];
    cups_page_header2_t expected = header;
    if (oversize && named != nullptr) {
        expected.PageSize[0] = static_cast<unsigned>(named->cupsPaperW);
        expected.PageSize[1] = static_cast<unsigned>(named->cupsPaperH);
    }
    require(std::memcmp(&cut, &expected, sizeof cut) == 0,
            "only an oversize page takes the size of the row its PageSize option names");
}

// The values each entry may take once its option is present.
void check_entry(const PRINT_FUNC_INFO &entry, int index, int32_t before, const char *text)
{
    switch (index) {
    case AUTODUPLEX:
    case AUTODUPLONGEDGE:
    case INPUTSLOT:
        require(entry.value >= 0 && entry.value <= 2, "duplex and tray values are 0, 1 or 2");
        break;
    case DENSITY:
        require(entry.value == static_cast<int32_t>(std::strtol(text, nullptr, 10)), "density is the number given");
        break;
    default:
        require(entry.value == (strcasecmp(text, "true") == 0 ? 1 : before),
                "a switch turns on with \"true\" and is left alone otherwise");
        break;
    }
}

void check_function_values(int count, cups_option_t *options, const cups_page_header2_t &header, uint8_t seed)
{
    PRINT_FUNC_INFO table[FUNC_COUNT];
    std::copy(std::begin(kDefaultPrintFuncInfo), std::end(kDefaultPrintFuncInfo), table);
    // Values persist from page to page: start from what an earlier page may have left.
    for (int i = 0; i < FUNC_COUNT; ++i)
        table[i].value = (seed >> (i % 8)) & 1;
    PRINT_FUNC_INFO before[FUNC_COUNT];
    std::copy(std::begin(table), std::end(table), before);
    GetFunctionValue(table, count, options, &header);
    const int32_t headerDuplex = header.Duplex ? (header.Tumble ? 2 : 1) : 0;
    for (int i = 0; i < FUNC_COUNT; ++i) {
        require(table[i].name == kDefaultPrintFuncInfo[i].name, "option names stay in place");
        const char *text = cupsGetOption(table[i].name, count, options);
        if (text != nullptr)
            check_entry(table[i], i, before[i].value, text);
        else if (i == AUTODUPLEX)
            require(table[i].value == headerDuplex, "without a Duplex option the header decides");
        else
            require(table[i].value == before[i].value, "an entry without its option keeps its value");
    }
}

// A boolean default the PPD may carry: absent, one of the usual spellings, or any text.
void add_boolean(varkon::fuzz::FuzzPpd &ppd, const char *name, varkon::fuzz::FuzzInput &input)
{
    static const char *const kChoices[] = {"True", "False", "true", "TRUE"};
    const uint8_t choice = input.byte() % 6;
    if (choice == 0)
        return;
    ppd.booleans.emplace_back(name, choice <= 4 ? std::string(kChoices[choice - 1]) : input.text(8));
}

// The PPD as libcups reads it from a file; nullptr when it cannot read it.
varkon::PpdFile open_ppd(const std::string &text)
{
    const int fd = memfd_create("varkon-fuzz-ppd", MFD_CLOEXEC);
    require(fd >= 0, "a memory file can be made");
    require(write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()), "the PPD is written whole");
    lseek(fd, 0, SEEK_SET);
    // ppdOpenFd closes the descriptor, whether it reads a PPD or not.
    ppd_file_t *ppd = ppdOpenFd(fd);
    return varkon::PpdFile(ppd);
}

// The completions checkOptionKey may append, in the order it appends them.
struct Completion {
    const char *name;
    bool density;
};
constexpr Completion kCompletions[] = {
    {"FeedLongEdge", false}, {"TonerMode", false}, {"ImageRotation", false}, {"NegativePrint", false}, {"Density", true},
};

// The text the PPD's default calls for, or "" when it calls for none.
std::string completion_for(const Completion &completion, const std::string &argv5, ppd_file_t *ppd)
{
    if (argv5.find(completion.name) != std::string::npos)
        return "";
    ppd_option_t *option = ppdFindOption(ppd, completion.name);
    if (option == nullptr)
        return "";
    if (!completion.density)
        return strcasecmp(option->defchoice, "True") == 0 ? std::string(" ") + completion.name : "";
    const long level = std::strtol(option->defchoice, nullptr, 10);
    return (level == 0 || level == 2 || level == 4) ? " Density=" + std::to_string(level) : "";
}

void check_completion(const std::string &argv5, ppd_file_t *ppd, bool copied)
{
    char parameters[kParametersSize] = {};
    if (copied)
        std::snprintf(parameters, sizeof parameters, "%s", argv5.c_str());
    const std::string start = parameters;
    checkOptionKey(parameters, argv5.c_str(), ppd);
    const size_t length = strnlen(parameters, sizeof parameters);
    require(length < sizeof parameters, "the options text stays terminated inside its buffer");
    const std::string completed(parameters, length);
    require(completed.compare(0, start.size(), start) == 0, "the options text is only added to");

    // Each completion the PPD calls for is there, whole and in order, unless it did not fit.
    size_t at = start.size();
    for (const Completion &completion : kCompletions) {
        const std::string text = completion_for(completion, argv5, ppd);
        if (!text.empty() && completed.compare(at, text.size(), text) == 0)
            at += text.size();
        else
            require(text.empty() || at + text.size() >= kParametersSize, "a completion the PPD calls for is added");
    }
    require(at == completed.size(), "nothing but the completions is added");
    cups_option_t *options = nullptr;
    const int count = cupsParseOptions(parameters, 0, &options);
    cupsFreeOptions(count, options);
}

void check_ppd_texts(ppd_file_t *ppd)
{
    for (const char *name : {"PlatForm", "SupportManualDuplex", "MDuplex"}) {
        char text[1024];
        std::memset(text, 'x', sizeof text);
        const int found = varkon::read_ppd_text(ppd, name, text);
        require(strnlen(text, sizeof text) < sizeof text, "a PPD text stays inside its 1024 bytes");
        require(found == 1 || text[0] == '\0', "a missing PPD text reads as empty");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    varkon::fuzz::FuzzInput input(data, size);
    const std::string model = model_name(input);
    const std::string platform = platform_text(input);
    check_model_lookup(model);
    check_platform_text(platform);

    cups_page_header2_t header{};
    header.PageSize[0] = input.u16() | static_cast<unsigned>(input.byte()) << 16;
    header.PageSize[1] = input.u16() | static_cast<unsigned>(input.byte()) << 16;
    header.Duplex = static_cast<cups_bool_t>(input.byte() % 2);
    header.Tumble = static_cast<cups_bool_t>(input.byte() % 2);
    header.NumCopies = input.byte();

    varkon::fuzz::FuzzPpd ppd;
    ppd.modelName = model;
    ppd.platform = platform;
    ppd.manualDuplexMessage = input.text(24);
    for (const char *name : {"FeedLongEdge", "TonerMode", "ImageRotation", "NegativePrint"})
        add_boolean(ppd, name, input);
    const uint8_t density = input.byte();
    ppd.densityDefault = density < 6 ? std::to_string(density) : density < 12 ? "" : input.text(6);
    const uint8_t seed = input.byte();
    const bool copied = input.flag();
    // Long option texts push the completions against the end of the 8192-byte buffer.
    std::string argv5(static_cast<size_t>(input.byte()) * 32, 'x');
    const std::vector<uint8_t> rest = input.rest();
    argv5.append(rest.begin(), rest.end());
    argv5.erase(std::find(argv5.begin(), argv5.end(), '\0'), argv5.end());
    if (argv5.size() >= kParametersSize)
        argv5.resize(kParametersSize - 1);

    cups_option_t *options = nullptr;
    const int count = cupsParseOptions(argv5.c_str(), 0, &options);
    check_function_values(count, options, header, seed);
    for (const TableOfPlatform &group : kGroups) {
        check_paper_index(group, header.PageSize);
        check_cut_paper(group, header, count, options);
    }
    cupsFreeOptions(count, options);

    const auto file = open_ppd(varkon::fuzz::ppd_text(ppd));
    check_completion(argv5, file.get(), copied);
    check_ppd_texts(file.get());
    return 0;
}
