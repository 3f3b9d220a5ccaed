// SPDX-License-Identifier: GPL-2.0-or-later
// The PostScript models and their ppdc entries, from pstoVarkon's family lists
// plus what the lists do not say: which models have a duplexer, and their speed.
#include "ps_models.h"

#include "printer_families.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <iterator>

namespace varkon::ppd {

namespace {

struct PsFeatures {
    const char *designation;
    bool duplexer;
    int pagesPerMinute;
};

// In the order of jurvex_printerinfo. "d" and "n" models have a duplexer, as
// have all of the larger series.
constexpr PsFeatures kJurvexFeatures[] = {
    {"Jurvex 21", false, 20}, {"Jurvex 22", false, 22}, {"Jurvex23d", true, 24}, {"Jurvex24n", true, 26},
    {"Jurvex 31", false, 30}, {"Jurvex 32", false, 32}, {"Jurvex33d", true, 33}, {"Jurvex34n", true, 35},
    {"Jurvex 5", true, 40},   {"Jurvex 6", true, 45},   {"Jurvex 7x", true, 50}, {"Jurvex 7m", true, 50},
    {"Jurvex 8", true, 55},   {"Jurvex 9", true, 60},   {"JurvexP40", true, 40}, {"JurvexP50", true, 50},
    {"JurvexM60", true, 60},
};

// In the order of Halvex_printerinfo.
constexpr PsFeatures kHalvexFeatures[] = {
    {"Halvex 40", false, 40}, {"Halvex41d", true, 40},  {"Halvex42n", true, 42}, {"Halvex 50", true, 50},
    {"Halvex 52", true, 52},  {"Halvex M7", true, 45},  {"HalvexM80", true, 50}, {"Halvex 9", true, 60},
};

constexpr char kSeriesSuffix[] = " Series PS";
constexpr char kGenericModelName[] = "Varkon PostScript Printer";
// What a Varkon PostScript printer outside both families may report; a
// printer's backend matches it by manufacturer and command set.
constexpr char kGenericDeviceId[] = "MFG:Varkon;CMD:PJL,POSTSCRIPT;";
constexpr char kCommandSet[] = "CMD:PJL,POSTSCRIPT;";

constexpr bool same_text(const char *a, const char *b)
{
    return families::wraps(a, "", b, "");
}

constexpr bool jurvex_features_follow_the_list()
{
    for (std::size_t i = 0; i < kJurvexModelCount; ++i)
        if (!same_text(kJurvexFeatures[i].designation, jurvex_printerinfo[i]))
            return false;
    return true;
}

constexpr bool halvex_features_follow_the_list()
{
    for (std::size_t i = 0; i < kHalvexModelCount; ++i)
        if (!families::wraps(Halvex_printerinfo[i], "", kHalvexFeatures[i].designation, kSeriesSuffix))
            return false;
    return true;
}

static_assert(std::size(kJurvexFeatures) == kJurvexModelCount, "one row per Jurvex designation");
static_assert(jurvex_features_follow_the_list(), "Jurvex rows name the list's designations in its order");
static_assert(std::size(kHalvexFeatures) == kHalvexModelCount, "one row per Halvex nickname");
static_assert(halvex_features_follow_the_list(), "Halvex rows name the list's designations in its order");

std::string lower(std::string text)
{
    for (char &c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

bool contains_nocase(const std::string &text, const std::string &part)
{
    return lower(text).find(lower(part)) != std::string::npos;
}

PsModel family_model(PsFamily family, const PsFeatures &features, const std::string &nickname,
                     const std::string &deviceId)
{
    PsModel model;
    model.family = family;
    model.designation = features.designation;
    model.shortNickName = nickname;
    model.modelName = "Varkon " + nickname;
    model.deviceId = deviceId;
    model.duplexer = features.duplexer;
    model.pagesPerMinute = features.pagesPerMinute;
    return model;
}

// The family rules of pstoVarkon, applied to one subject: a device ID, or a nickname.
bool holds_jurvex_designation(const std::string &subject)
{
    return std::any_of(std::begin(jurvex_printerinfo), std::end(jurvex_printerinfo),
                       [&](const char *designation) { return contains_nocase(subject, designation); });
}

bool is_halvex_device_id(const std::string &deviceId)
{
    return std::any_of(std::begin(Halvex_1284info), std::end(Halvex_1284info), [&](const HalvexDeviceId &id) {
        return deviceId.find(id.mfg) != std::string::npos && deviceId.find(id.mdl) != std::string::npos &&
               deviceId.find(id.cls) != std::string::npos;
    });
}

bool is_halvex_nickname(const std::string &nickname)
{
    return std::any_of(Halvex_printerinfo, Halvex_printerinfo + kHalvexModelCount,
                       [&](const char *text) { return lower(nickname) == lower(text); });
}

const char *family_include(PsFamily family)
{
    switch (family) {
    case PsFamily::Jurvex: return "ps-jurvex.drv";
    case PsFamily::Halvex: return "ps-halvex.drv";
    case PsFamily::Generic: break;
    }
    return "ps-generic.drv";
}

} // namespace

std::vector<PsModel> ps_models()
{
    std::vector<PsModel> models;
    for (const PsFeatures &features : kJurvexFeatures) {
        const std::string designation = features.designation;
        models.push_back(family_model(PsFamily::Jurvex, features, designation + kSeriesSuffix,
                                      "MFG:Varkon;MDL:" + designation + " series;" + kCommandSet + "CLS:PRINTER;"));
    }
    for (std::size_t i = 0; i < kHalvexModelCount; ++i) {
        const HalvexDeviceId &id = Halvex_1284info[i];
        models.push_back(family_model(PsFamily::Halvex, kHalvexFeatures[i], Halvex_printerinfo[i],
                                      std::string(id.mfg) + id.mdl + kCommandSet + id.cls));
    }
    PsModel generic;
    generic.modelName = kGenericModelName;
    generic.shortNickName = kGenericModelName;
    generic.deviceId = kGenericDeviceId;
    // Whether a duplexer is fitted is not known here; the printer ignores the
    // request when it has none.
    generic.duplexer = true;
    models.push_back(generic);
    return models;
}

std::string ps_file_name(const PsModel &model)
{
    if (model.family == PsFamily::Generic)
        return "varkon-postscript.ppd";
    std::string name = "varkon-";
    for (char c : lower(model.designation))
        name += c == ' ' ? '-' : c;
    return name + ".ppd";
}

std::string ps_pc_file_name(const PsModel &model)
{
    if (model.family == PsFamily::Generic)
        return "vps.ppd";
    // "v", the family's initial, then the designation after the family name.
    std::string name = "v";
    name += static_cast<char>(std::tolower(static_cast<unsigned char>(model.designation[0])));
    const std::string family = model.family == PsFamily::Jurvex ? "Jurvex" : "Halvex";
    for (char c : lower(model.designation.substr(std::min(family.size(), model.designation.size()))))
        if (c != ' ')
            name += c;
    return name + ".ppd";
}

bool ps_model_classifies(const PsModel &model)
{
    const bool jurvex = model.family == PsFamily::Jurvex, halvex = model.family == PsFamily::Halvex;
    // The filter's tests, by device ID and by nickname: each names the model's family only.
    bool ok = holds_jurvex_designation(model.shortNickName) == jurvex &&
              holds_jurvex_designation(model.deviceId) == jurvex;
    ok = ok && is_halvex_nickname(model.shortNickName) == halvex && is_halvex_device_id(model.deviceId) == halvex;
    // A Jurvex model holds its own designation, not just any.
    if (jurvex)
        ok = ok && contains_nocase(model.shortNickName, model.designation) &&
             model.deviceId.find("MDL:" + model.designation) != std::string::npos;
    if (!ok)
        std::fprintf(stderr, "varkon-gen-drv: %s would not be classified as its family by pstoVarkon\n",
                     model.modelName.c_str());
    return ok;
}

void write_ps_model(const PsModel &model, std::ostream &out)
{
    out << "\n// " << model.modelName << ".\n{\n"
        << "  ModelName \"" << model.modelName << "\"\n";
    // ppdc takes the ModelName for the ShortNickName unless told otherwise.
    if (model.shortNickName != model.modelName)
        out << "  Attribute ShortNickName \"\" \"" << model.shortNickName << "\"\n";
    out << "  FileName \"" << ps_file_name(model) << "\"\n"
        << "  PCFileName \"" << ps_pc_file_name(model) << "\"\n";
    if (model.pagesPerMinute > 0)
        out << "  Throughput " << model.pagesPerMinute << "\n";
    out << "  Attribute \"1284DeviceID\" \"\" \"" << model.deviceId << "\"\n"
        << "  #include \"" << family_include(model.family) << "\"\n";
    if (model.duplexer)
        out << "  #include \"duplex-unit.drv\"\n";
    out << "}\n";
}

} // namespace varkon::ppd
