// SPDX-License-Identifier: GPL-2.0-or-later
// Every host-based Varkon model in one place: the filter's model table and the
// source the PPDs are generated from. A model's group fixes its platform and paper table.
#pragma once

#include <cstddef>

namespace varkon {

struct VarkonModel {
    const char *modelName;   // PPD ModelName, "Varkon <designation> Series"
    const char *designation; // as printed on the printer and in its IEEE 1284 device ID
    int group;               // 1, 2: platform C; 3: platform Z; 4: platform M
    bool duplexer;           // turns the sheet by itself
    bool manualDuplex;       // the user turns the stack (PPD SupportManualDuplex)
};

// The two platform-Z models whose job start carries their own toner parameters.
constexpr const char kTamrelModelName[] = "Varkon Tamrel 310 Series";
constexpr const char kDrevanModelName[] = "Varkon Drevan 330d Series";

constexpr VarkonModel kVarkonModels[] = {
    // Group 1: platform C printers.
    {"Varkon Belvar 210 Series", "Belvar 210", 1, false, true},
    {"Varkon Belvar 210d Series", "Belvar 210d", 1, true, false},
    // Group 2: platform C multi-function devices.
    {"Varkon Belvar 230m Series", "Belvar 230m", 2, false, true},
    {"Varkon Belvar 230md Series", "Belvar 230md", 2, true, false},
    // Group 3: platform Z.
    {kTamrelModelName, "Tamrel 310", 3, false, true},
    {kDrevanModelName, "Drevan 330d", 3, true, false},
    {"Varkon Oskel 301 Series", "Oskel 301", 3, false, true},
    {"Varkon Oskel 301d Series", "Oskel 301d", 3, true, false},
    {"Varkon Oskel 301w Series", "Oskel 301w", 3, false, true},
    {"Varkon Oskel 301dw Series", "Oskel 301dw", 3, true, false},
    {"Varkon Oskel 302m Series", "Oskel 302m", 3, false, true},
    {"Varkon Oskel 302md Series", "Oskel 302md", 3, true, false},
    {"Varkon Oskel 302mw Series", "Oskel 302mw", 3, false, true},
    {"Varkon Oskel 302mdw Series", "Oskel 302mdw", 3, true, false},
    {"Varkon Oskel 303 Series", "Oskel 303", 3, false, true},
    {"Varkon Oskel 303d Series", "Oskel 303d", 3, true, false},
    {"Varkon Oskel 303w Series", "Oskel 303w", 3, false, true},
    {"Varkon Oskel 303dw Series", "Oskel 303dw", 3, true, false},
    {"Varkon Oskel 304m Series", "Oskel 304m", 3, false, true},
    // Group 4: platform M.
    {"Varkon Nimbrel 41 Series", "Nimbrel 41", 4, false, true},
    {"Varkon Nimbrel 41d Series", "Nimbrel 41d", 4, true, false},
    {"Varkon Nimbrel 41w Series", "Nimbrel 41w", 4, false, true},
    {"Varkon Nimbrel 41dw Series", "Nimbrel 41dw", 4, true, false},
    {"Varkon Nimbrel 42m Series", "Nimbrel 42m", 4, false, true},
    {"Varkon Nimbrel 42md Series", "Nimbrel 42md", 4, true, false},
    {"Varkon Nimbrel 42mw Series", "Nimbrel 42mw", 4, false, true},
    {"Varkon Nimbrel 43 Series", "Nimbrel 43", 4, false, true},
    {"Varkon Nimbrel 43d Series", "Nimbrel 43d", 4, true, false},
    {"Varkon Nimbrel 43w Series", "Nimbrel 43w", 4, false, true},
    {"Varkon Nimbrel 43dw Series", "Nimbrel 43dw", 4, true, false},
    {"Varkon Nimbrel 44m Series", "Nimbrel 44m", 4, false, true},
    {"Varkon Nimbrel 44md Series", "Nimbrel 44md", 4, true, false},
    {"Varkon Nimbrel 44mw Series", "Nimbrel 44mw", 4, false, true},
    {"Varkon Nimbrel 45 Series", "Nimbrel 45", 4, false, true},
    {"Varkon Nimbrel 45d Series", "Nimbrel 45d", 4, true, false},
    {"Varkon Sarvel 51 Series", "Sarvel 51", 4, false, true},
    {"Varkon Sarvel 51d Series", "Sarvel 51d", 4, true, false},
    {"Varkon Sarvel 51w Series", "Sarvel 51w", 4, false, true},
    {"Varkon Sarvel 51dw Series", "Sarvel 51dw", 4, true, false},
    {"Varkon Sarvel 52m Series", "Sarvel 52m", 4, false, true},
    {"Varkon Sarvel 52md Series", "Sarvel 52md", 4, true, false},
    {"Varkon Sarvel 52mw Series", "Sarvel 52mw", 4, false, true},
    {"Varkon Sarvel 52mdw Series", "Sarvel 52mdw", 4, true, false},
    {"Varkon Sarvel 53 Series", "Sarvel 53", 4, false, true},
    {"Varkon Sarvel 53d Series", "Sarvel 53d", 4, true, false},
    {"Varkon Sarvel 53w Series", "Sarvel 53w", 4, false, true},
    {"Varkon Sarvel 53dw Series", "Sarvel 53dw", 4, true, false},
    {"Varkon Sarvel 54m Series", "Sarvel 54m", 4, false, true},
    {"Varkon Sarvel 54md Series", "Sarvel 54md", 4, true, false},
    {"Varkon Sarvel 54mdw Series", "Sarvel 54mdw", 4, true, false},
};

constexpr int kModelGroupPlatform[5] = {0, 1, 1, 2, 3};

namespace model_check {

constexpr size_t length(const char *s)
{
    size_t n = 0;
    while (s[n] != '\0')
        ++n;
    return n;
}

constexpr bool equal(const char *a, const char *b)
{
    size_t i = 0;
    for (; a[i] != '\0' && a[i] == b[i]; ++i) {
    }
    return a[i] == b[i];
}

// "Varkon " + designation + " Series", compared character by character.
constexpr bool name_matches_designation(const VarkonModel &m)
{
    const char prefix[] = "Varkon ";
    const char suffix[] = " Series";
    const size_t d = length(m.designation);
    if (length(m.modelName) != 7 + d + 7)
        return false;
    for (size_t i = 0; i < 7; ++i)
        if (m.modelName[i] != prefix[i] || m.modelName[7 + d + i] != suffix[i])
            return false;
    for (size_t i = 0; i < d; ++i)
        if (m.modelName[7 + i] != m.designation[i])
            return false;
    return true;
}

constexpr int group_count(int group)
{
    int n = 0;
    for (const auto &m : kVarkonModels)
        n += (m.group == group) ? 1 : 0;
    return n;
}

constexpr bool all_well_formed()
{
    for (const auto &m : kVarkonModels) {
        const size_t n = length(m.modelName);
        if (n < 19 || n > 26 || !name_matches_designation(m) || m.group < 1 || m.group > 4)
            return false;
    }
    return true;
}

constexpr bool all_unique()
{
    constexpr size_t count = sizeof(kVarkonModels) / sizeof(kVarkonModels[0]);
    for (size_t i = 0; i < count; ++i)
        for (size_t j = i + 1; j < count; ++j)
            if (equal(kVarkonModels[i].modelName, kVarkonModels[j].modelName))
                return false;
    return true;
}

constexpr bool has_model(const char *name, int group)
{
    for (const auto &m : kVarkonModels)
        if (m.group == group && equal(m.modelName, name))
            return true;
    return false;
}

} // namespace model_check

static_assert(model_check::group_count(1) == 2 && model_check::group_count(2) == 2 &&
                  model_check::group_count(3) == 15 && model_check::group_count(4) == 31,
              "the model groups hold 2, 2, 15 and 31 models");
static_assert(model_check::all_well_formed(), "model names are 'Varkon <designation> Series', 19 to 26 characters");
static_assert(model_check::all_unique(), "model names are unique");
static_assert(model_check::has_model(kTamrelModelName, 3) && model_check::has_model(kDrevanModelName, 3),
              "the Tamrel and Drevan models are platform Z models");

} // namespace varkon
