// SPDX-License-Identifier: GPL-2.0-or-later
// The two printer families pstoVarkon treats specially, as constant data that a
// PPD generator can include as well, and the classifications that steer a job.
//
// Jurvex models take rewritten PostScript; Halvex models take PDF that the
// filter turns for duplex and converts itself. The designations are shared by
// the three lists: a Halvex model's nickname and its IEEE 1284 model field
// are built from the same designation.
#pragma once

#include <cstddef>

inline constexpr std::size_t kFamilyFieldSize = 64; // one text slot of the lists below
inline constexpr std::size_t kJurvexModelCount = 17;
inline constexpr std::size_t kHalvexModelCount = 8;

// Bare designations: a device ID or ShortNickName that contains one (letter case
// ignored) belongs to a Jurvex printer.
inline constexpr char jurvex_printerinfo[kJurvexModelCount][kFamilyFieldSize] = {
    "Jurvex 21", "Jurvex 22", "Jurvex23d", "Jurvex24n", "Jurvex 31", "Jurvex 32",
    "Jurvex33d", "Jurvex34n", "Jurvex 5",  "Jurvex 6",  "Jurvex 7x", "Jurvex 7m",
    "Jurvex 8",  "Jurvex 9",  "JurvexP40", "JurvexP50", "JurvexM60",
};

// The three device-ID fields that a Halvex printer reports, compared case-sensitively.
struct HalvexDeviceId {
    char mfg[kFamilyFieldSize];
    char mdl[kFamilyFieldSize];
    char cls[kFamilyFieldSize];
};

inline constexpr HalvexDeviceId Halvex_1284info[kHalvexModelCount] = {
    {"MFG:Varkon;", "MDL:Halvex 40 series;", "CLS:PRINTER;"},
    {"MFG:Varkon;", "MDL:Halvex41d series;", "CLS:PRINTER;"},
    {"MFG:Varkon;", "MDL:Halvex42n series;", "CLS:PRINTER;"},
    {"MFG:Varkon;", "MDL:Halvex 50 series;", "CLS:PRINTER;"},
    {"MFG:Varkon;", "MDL:Halvex 52 series;", "CLS:PRINTER;"},
    {"MFG:Varkon;", "MDL:Halvex M7 series;", "CLS:PRINTER;"},
    {"MFG:Varkon;", "MDL:HalvexM80 series;", "CLS:PRINTER;"},
    {"MFG:Varkon;", "MDL:Halvex 9 series;", "CLS:PRINTER;"},
};

// Complete ShortNickNames of the Halvex PPDs, closed by a null entry.
inline constexpr const char *Halvex_printerinfo[kHalvexModelCount + 1] = {
    "Halvex 40 Series PS",  "Halvex41d Series PS", "Halvex42n Series PS", "Halvex 50 Series PS",
    "Halvex 52 Series PS", "Halvex M7 Series PS", "HalvexM80 Series PS", "Halvex 9 Series PS",
    nullptr,
};

namespace varkon::families {

constexpr std::size_t text_length(const char *text)
{
    std::size_t n = 0;
    while (text[n] != '\0')
        ++n;
    return n;
}

constexpr bool starts_with(const char *text, const char *prefix)
{
    for (std::size_t i = 0; prefix[i] != '\0'; ++i)
        if (text[i] != prefix[i])
            return false;
    return true;
}

// The designation a nickname or model field is built from: `text` between
// `prefix` and `suffix`, compared with `designation`.
constexpr bool wraps(const char *text, const char *prefix, const char *designation, const char *suffix)
{
    const std::size_t p = text_length(prefix), d = text_length(designation), s = text_length(suffix);
    return text_length(text) == p + d + s && starts_with(text, prefix) && starts_with(text + p, designation) &&
           starts_with(text + p + d, suffix);
}

constexpr bool jurvex_list_is_well_formed()
{
    for (const auto &entry : jurvex_printerinfo)
        if (text_length(entry) < 8 || text_length(entry) > 9)
            return false;
    return true;
}

// Both Halvex lists name the same models in the same order, and every nickname
// has the length the PPDs allow for a ShortNickName of this form.
constexpr bool halvex_lists_agree()
{
    if (Halvex_printerinfo[kHalvexModelCount] != nullptr)
        return false;
    for (std::size_t i = 0; i < kHalvexModelCount; ++i) {
        const char *nick = Halvex_printerinfo[i];
        const std::size_t n = text_length(nick);
        if (n < 16 || n > 19)
            return false;
        // The designation is the nickname without " Series PS".
        char designation[kFamilyFieldSize] = {};
        for (std::size_t k = 0; k + 10 < n; ++k)
            designation[k] = nick[k];
        if (!wraps(nick, "", designation, " Series PS") ||
            !wraps(Halvex_1284info[i].mdl, "MDL:", designation, " series;") ||
            !wraps(Halvex_1284info[i].mfg, "", "MFG:Varkon;", "") ||
            !wraps(Halvex_1284info[i].cls, "", "CLS:PRINTER;", ""))
            return false;
    }
    return true;
}

static_assert(sizeof jurvex_printerinfo / sizeof jurvex_printerinfo[0] == 17, "17 Jurvex designations");
static_assert(jurvex_list_is_well_formed(), "Jurvex designations are 8 or 9 characters");
static_assert(sizeof Halvex_1284info / sizeof Halvex_1284info[0] == 8, "8 Halvex device IDs");
static_assert(halvex_lists_agree(), "Halvex nicknames and device IDs name the same models");

} // namespace varkon::families

// Sets `isjurvex` when the device ID (or, without one, the PPD's ShortNickName)
// holds a Jurvex designation; leaves it unchanged otherwise.
void isJurvexPrinter(const char *deviceId, bool haveId);

// True for a Halvex printer: by its device ID when there is one, else by the
// PPD's ShortNickName.
bool isHalvexPrinter(const char *deviceId, bool haveId);
