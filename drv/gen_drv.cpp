// SPDX-License-Identifier: GPL-2.0-or-later
// Writes the per-model half of the PPD source from the filter's own model and
// paper tables, so that the PPDs and rastertoVarkon cannot disagree about model
// names, platforms or page sizes. varkon.drv holds the half every raster model
// shares, varkon-ps.drv the half every PostScript model shares.
//
// Usage: varkon-gen-drv <output directory> <driver version>
// Writes varkon-models.drv, one media-<table>.drv per paper table,
// varkon-ps-models.drv for the PostScript models (ps_models.h) and
// varkon-ppds.tsv (ModelName <tab> PPD file name) for tests and scripts.
#include "model_capabilities.h"
#include "model_table.h"
#include "paper_tables.h"
#include "platform.h"
#include "ps_models.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

// The media include written for a paper table.
std::string media_file(const varkon::PaperTable &table) { return std::string("media-") + table.name + ".drv"; }

// An 8.3 name: eight characters and ".ppd".
constexpr size_t kMaxPcFileName = 12;

struct PlatformParts {
    const char *include; // hand-written fragment in drv/
};

// Indexed by platform code.
constexpr PlatformParts kPlatformParts[] = {
    {nullptr},
    {"platform-c.drv"},
    {"platform-z.drv"},
    {"platform-m.drv"},
};
static_assert(PLATFORM_C == 1 && PLATFORM_Z == 2 && PLATFORM_M == 3, "kPlatformParts is indexed by platform code");

std::string points(int hundredths)
{
    char text[32];
    std::snprintf(text, sizeof text, "%d.%02d", hundredths / 100, hundredths % 100);
    return text;
}

// One CustomMedia line per page size of the table. A name that occurs twice
// keeps its first row, as the filter's lookups do.
bool write_media(const varkon::PaperTable &table, std::ostream &out)
{
    out << "// Page sizes of " << media_file(table) << ", written by varkon-gen-drv from the filter's paper table.\n";
    std::set<std::string> seen;
    for (const PAPER_SIZE_INFO *row = table.rows; row->cupsPaperW != -1; ++row) {
        if (!seen.insert(row->strPageSize).second)
            continue;
        varkon::ImageableMargins m{};
        if (!varkon::imageable_margins(*row, &m)) {
            std::fprintf(stderr, "varkon-gen-drv: %s of %s is larger than its page\n", row->strPageSize,
                         media_file(table).c_str());
            return false;
        }
        std::ostringstream code;
        code << "<</PageSize[" << row->cupsPaperW << ' ' << row->cupsPaperH << "]/ImagingBBox null>>setpagedevice";
        out << (std::string(row->strPageSize) == varkon::kDefaultPageSize ? "*" : "") << "CustomMedia \"" << row->strPageSize << '/'
            << varkon::page_size_label(row->strPageSize) << "\" " << row->cupsPaperW << ' ' << row->cupsPaperH << ' '
            << points(m.left) << ' ' << points(m.bottom) << ' ' << points(m.right) << ' ' << points(m.top) << " \""
            << code.str() << "\" \"" << code.str() << "\"\n";
    }
    return true;
}

// "Oskel 302mdw" -> "varkon-oskel-302mdw.ppd": the installed file name.
std::string file_name(const varkon::VarkonModel &model)
{
    std::string name = "varkon-";
    for (const char *c = model.designation; *c != '\0'; ++c)
        name += (*c == ' ') ? '-' : static_cast<char>(std::tolower(static_cast<unsigned char>(*c)));
    return name + ".ppd";
}

// "Oskel 302mdw" -> "vo302mdw.ppd": the 8.3 name the PPD format asks for,
// from the family's initial and the model number.
std::string pc_file_name(const varkon::VarkonModel &model)
{
    std::string name = "v";
    name += static_cast<char>(std::tolower(static_cast<unsigned char>(model.designation[0])));
    const char *number = std::strchr(model.designation, ' ');
    for (const char *c = number != nullptr ? number : ""; *c != '\0'; ++c)
        if (*c != ' ')
            name += static_cast<char>(std::tolower(static_cast<unsigned char>(*c)));
    return name + ".ppd";
}

// The duplex fragments: a duplexer, or the user turning the stack. Platform Z
// turns any Duplex request of a manual-duplex model into manual duplex by
// itself; platforms C and M are asked for it with the ManualDuplex option.
std::vector<const char *> duplex_includes(const varkon::ModelCapabilities &caps)
{
    if (caps.manualDuplex == varkon::ManualDuplex::DuplexRequest)
        return {"duplex-manual-z.drv"};
    std::vector<const char *> includes;
    if (caps.duplexer)
        includes.push_back("duplex-unit.drv");
    if (caps.manualDuplex == varkon::ManualDuplex::Option)
        includes.push_back("duplex-manual.drv");
    return includes;
}

bool write_model(const varkon::VarkonModel &model, std::ostream &out)
{
    varkon::ModelCapabilities caps;
    if (!varkon::model_capabilities(model, &caps)) {
        std::fprintf(stderr, "varkon-gen-drv: the filter finds no platform or paper table for %s\n", model.modelName);
        return false;
    }
    const int platform = caps.platform;
    out << "\n// " << model.modelName << ": platform " << "?CZM"[platform] << ", " << media_file(*caps.paper) << ".\n{\n"
        << "  ModelName \"" << model.modelName << "\"\n"
        << "  FileName \"" << file_name(model) << "\"\n"
        << "  PCFileName \"" << pc_file_name(model) << "\"\n"
        << "  Attribute \"1284DeviceID\" \"\" \"" << varkon::model_device_id(model, platform) << "\"\n"
        << "  #include \"" << kPlatformParts[platform].include << "\"\n";
    for (const char *duplex : duplex_includes(caps))
        out << "  #include \"" << duplex << "\"\n";
    out << "  #include \"" << media_file(*caps.paper) << "\"\n}\n";
    return true;
}

// Names that must not collide, or ppdc would silently overwrite one PPD with another.
bool names_unique(const std::vector<varkon::ppd::PsModel> &ps_models)
{
    std::vector<std::pair<std::string, std::string>> names; // file name, 8.3 name
    for (const auto &model : varkon::kVarkonModels)
        names.emplace_back(file_name(model), pc_file_name(model));
    for (const auto &model : ps_models)
        names.emplace_back(varkon::ppd::ps_file_name(model), varkon::ppd::ps_pc_file_name(model));
    std::set<std::string> files, pc_files;
    for (const auto &[file, pc] : names) {
        if (!files.insert(file).second || !pc_files.insert(pc).second || pc.size() > kMaxPcFileName) {
            std::fprintf(stderr, "varkon-gen-drv: file name %s or %s is not unique or too long\n", file.c_str(),
                         pc.c_str());
            return false;
        }
    }
    return true;
}

// The PostScript models' half of the PPD source; varkon-ps.drv holds what they share.
bool write_ps_models(const std::vector<varkon::ppd::PsModel> &ps_models, const char *version, std::ostream &out,
                     std::ostream &index)
{
    out << "// Every PostScript model, written by varkon-gen-drv from pstoVarkon's family lists.\n"
        << "Version \"" << version << "\"\n";
    for (const auto &model : ps_models) {
        if (!varkon::ppd::ps_model_classifies(model))
            return false;
        varkon::ppd::write_ps_model(model, out);
        index << model.modelName << '\t' << varkon::ppd::ps_file_name(model) << '\n';
    }
    return true;
}

bool write_file(const std::string &path, const std::string &text)
{
    std::ofstream out(path, std::ios::trunc);
    out << text;
    out.close();
    if (!out) {
        std::fprintf(stderr, "varkon-gen-drv: cannot write %s\n", path.c_str());
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: varkon-gen-drv output-directory version\n");
        return 2;
    }
    const std::string dir = argv[1];
    const std::vector<varkon::ppd::PsModel> ps_models = varkon::ppd::ps_models();
    if (!names_unique(ps_models))
        return 1;

    for (const auto &table : varkon::kPaperTables) {
        std::ostringstream media;
        if (!write_media(table, media) || !write_file(dir + "/" + media_file(table), media.str()))
            return 1;
    }

    std::ostringstream models, index;
    models << "// Every host-based model, written by varkon-gen-drv from the filter's model table.\n"
           << "Version \"" << argv[2] << "\"\n";
    for (const auto &model : varkon::kVarkonModels) {
        if (!write_model(model, models))
            return 1;
        index << model.modelName << '\t' << file_name(model) << '\n';
    }
    std::ostringstream ps;
    if (!write_ps_models(ps_models, argv[2], ps, index))
        return 1;
    return write_file(dir + "/varkon-models.drv", models.str()) && write_file(dir + "/varkon-ps-models.drv", ps.str()) &&
                   write_file(dir + "/varkon-ppds.tsv", index.str())
               ? 0
               : 1;
}
