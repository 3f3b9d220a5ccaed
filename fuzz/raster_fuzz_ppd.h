// SPDX-License-Identifier: GPL-2.0-or-later
// PPD texts for the raster filter's harnesses: a model name, the driver texts
// the filter reads (cupsIPPReason PlatForm, SupportManualDuplex, MDuplex) and
// the option defaults that platform Z completes a job's options from, in the
// form the driver's own PPDs use. The defaults are plain texts, so a harness
// can hand libcups any choice name, however odd.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace varkon::fuzz {

struct FuzzPpd {
    std::string modelName = "Varkon Test Printer";
    std::string platform;            // PlatForm text; empty: no such entry
    std::string supportManualDuplex; // e.g. "TRUE"; empty: no such entry
    std::string manualDuplexMessage; // MDuplex text; empty: no such entry
    // Boolean options and their default choice, e.g. {"TonerMode", "True"}.
    std::vector<std::pair<std::string, std::string>> booleans;
    std::string densityDefault;      // default choice of a Density option; empty: no option
};

inline std::string ppd_text(const FuzzPpd &ppd)
{
    std::string out = "*PPD-Adobe: \"4.3\"\n*FormatVersion: \"4.3\"\n*FileVersion: \"1.0\"\n"
                      "*LanguageVersion: English\n*LanguageEncoding: ISOLatin1\n*PCFileName: \"VKFUZZ.PPD\"\n"
                      "*Manufacturer: \"Varkon\"\n";
    out += "*Product: \"(" + ppd.modelName + ")\"\n*ModelName: \"" + ppd.modelName + "\"\n";
    out += "*ShortNickName: \"" + ppd.modelName + "\"\n*NickName: \"" + ppd.modelName + "\"\n";
    out += "*PSVersion: \"(3010.000) 0\"\n*LanguageLevel: \"3\"\n*ColorDevice: False\n"
           "*DefaultColorSpace: Gray\n*cupsFilter: \"application/vnd.cups-raster 0 rastertoVarkon\"\n";
    if (!ppd.platform.empty())
        out += "*cupsIPPReason PlatForm/" + ppd.platform + ": \"\"\n";
    if (!ppd.supportManualDuplex.empty())
        out += "*cupsIPPReason SupportManualDuplex/" + ppd.supportManualDuplex + ": \"\"\n";
    if (!ppd.manualDuplexMessage.empty())
        out += "*cupsIPPReason MDuplex/" + ppd.manualDuplexMessage + ": \"\"\n";
    out += "*OpenUI *PageSize/Media Size: PickOne\n*OrderDependency: 10 AnySetup *PageSize\n"
           "*DefaultPageSize: A4\n*PageSize A4/A4: \"<</PageSize[595 842]/ImagingBBox null>>setpagedevice\"\n"
           "*CloseUI: *PageSize\n*DefaultImageableArea: A4\n*ImageableArea A4/A4: \"0 0 595 842\"\n"
           "*DefaultPaperDimension: A4\n*PaperDimension A4/A4: \"595 842\"\n";
    for (const auto &[name, choice] : ppd.booleans) {
        out += "*OpenUI *" + name + "/" + name + ": Boolean\n*OrderDependency: 20 AnySetup *" + name + "\n";
        out += "*Default" + name + ": " + choice + "\n";
        out += "*" + name + " True/On: \"\"\n*" + name + " False/Off: \"\"\n*CloseUI: *" + name + "\n";
    }
    if (!ppd.densityDefault.empty()) {
        out += "*OpenUI *Density/Density: PickOne\n*OrderDependency: 20 AnySetup *Density\n";
        out += "*DefaultDensity: " + ppd.densityDefault + "\n";
        for (char level = '0'; level <= '4'; ++level)
            out += std::string("*Density ") + level + "/Level " + level + ": \"\"\n";
        out += "*CloseUI: *Density\n";
    }
    return out;
}

} // namespace varkon::fuzz
