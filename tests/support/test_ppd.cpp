// SPDX-License-Identifier: GPL-2.0-or-later
// Writes small, valid PPD files (cupstestppd accepts them) for the filter tests.
#include "test_ppd.h"

#include "run_process.h"

#include <sstream>

namespace varkon::test {

namespace {

void header(std::ostringstream &out, const TestPpd &ppd)
{
    out << "*PPD-Adobe: \"4.3\"\n*FormatVersion: \"4.3\"\n*FileVersion: \"1.0\"\n"
           "*LanguageVersion: English\n*LanguageEncoding: ISOLatin1\n*PCFileName: \"VKTEST.PPD\"\n"
           "*Manufacturer: \"Varkon\"\n*Product: \"(" << ppd.modelName << ")\"\n"
        << "*ModelName: \"" << ppd.modelName << "\"\n*ShortNickName: \"" << ppd.modelName << "\"\n"
        << "*NickName: \"" << ppd.modelName << "\"\n"
        << "*PSVersion: \"(3010.000) 0\"\n*LanguageLevel: \"3\"\n*ColorDevice: False\n"
           "*DefaultColorSpace: Gray\n*FileSystem: False\n*Throughput: \"20\"\n"
           "*LandscapeOrientation: Plus90\n*TTRasterizer: Type42\n"
           "*cupsFilter: \"application/vnd.cups-raster 0 rastertoVarkon\"\n";
}

void reasons(std::ostringstream &out, const TestPpd &ppd)
{
    if (!ppd.platform.empty())
        out << "*cupsIPPReason PlatForm/" << ppd.platform << ": \"\"\n";
    if (!ppd.supportManualDuplex.empty())
        out << "*cupsIPPReason SupportManualDuplex/" << ppd.supportManualDuplex << ": \"\"\n";
    if (!ppd.manualDuplexMessage.empty())
        out << "*cupsIPPReason MDuplex/" << ppd.manualDuplexMessage << ": \"\"\n";
}

void page_sizes(std::ostringstream &out)
{
    out << "*OpenUI *PageSize/Media Size: PickOne\n*OrderDependency: 10 AnySetup *PageSize\n"
           "*DefaultPageSize: A4\n"
           "*PageSize A4/A4: \"<</PageSize[595 842]/ImagingBBox null>>setpagedevice\"\n"
           "*CloseUI: *PageSize\n"
           "*OpenUI *PageRegion: PickOne\n*OrderDependency: 10 AnySetup *PageRegion\n"
           "*DefaultPageRegion: A4\n"
           "*PageRegion A4/A4: \"<</PageSize[595 842]/ImagingBBox null>>setpagedevice\"\n"
           "*CloseUI: *PageRegion\n"
           "*DefaultImageableArea: A4\n*ImageableArea A4/A4: \"0 0 595 842\"\n"
           "*DefaultPaperDimension: A4\n*PaperDimension A4/A4: \"595 842\"\n";
}

void options(std::ostringstream &out, const TestPpd &ppd)
{
    for (const auto &[name, def] : ppd.booleans) {
        out << "*OpenUI *" << name << "/" << name << ": Boolean\n"
            << "*OrderDependency: 20 AnySetup *" << name << "\n"
            << "*Default" << name << ": " << def << "\n"
            << "*" << name << " True/On: \"\"\n*" << name << " False/Off: \"\"\n"
            << "*CloseUI: *" << name << "\n";
    }
    if (!ppd.densityDefault.empty()) {
        out << "*OpenUI *Density/Density: PickOne\n*OrderDependency: 20 AnySetup *Density\n"
            << "*DefaultDensity: " << ppd.densityDefault << "\n";
        for (int level = 0; level <= 4; ++level)
            out << "*Density " << level << "/Level " << level << ": \"\"\n";
        if (ppd.densityDefault.size() != 1 || ppd.densityDefault[0] < '0' || ppd.densityDefault[0] > '4')
            out << "*Density " << ppd.densityDefault << "/Other: \"\"\n";
        out << "*CloseUI: *Density\n";
    }
}

} // namespace

std::string write_test_ppd(const std::string &path, const TestPpd &ppd)
{
    std::ostringstream out;
    header(out, ppd);
    reasons(out, ppd);
    page_sizes(out);
    options(out, ppd);
    write_file(path, out.str());
    return path;
}

} // namespace varkon::test
