// SPDX-License-Identifier: GPL-2.0-or-later
// The IPP Everywhere test files in a scratch folder, and the documents they send.
#include "ipp_everywhere_documents.h"

#include "run_process.h"

#include <filesystem>
#include <sstream>
#include <stdexcept>

namespace varkon::test {

const char *const kIppEverywhereTestFiles[3] = {"ipp-everywhere.test", "ipp-2.0.test", "ipp-1.1.test"};

namespace {

// The PWG raster samples made for real: the type and resolution all Varkon drivers advertise.
constexpr const char kRasterFolder[] = "pwg-raster-samples-600dpi/sgray-8/";
constexpr const char kRasterSuffix[] = "-sgray-8-600dpi.pwg";

// Two pages of text over a gray band on a page of `width` x `height` points.
std::string document_ps(int width, int height, const char *paper)
{
    std::ostringstream ps;
    ps << "%!PS\n<< /PageSize [" << width << ' ' << height << "] >> setpagedevice\n";
    for (int page = 1; page <= 2; ++page) {
        ps << "/Helvetica findfont 14 scalefont setfont 0 setgray\n";
        for (int line = 0; line < 30; ++line)
            ps << "72 " << height - 96 - 18 * line << " moveto (" << paper << " page " << page << ", line "
               << line + 1 << ": The quick brown fox jumps over the lazy dog.) show\n";
        ps << "0.5 setgray 72 72 " << width - 144 << " 96 rectfill showpage\n";
    }
    return ps.str();
}

// A 4x6 inch page of colour bands and a caption, to stand for a photo.
std::string photo_ps()
{
    return "%!PS\n<< /PageSize [288 432] >> setpagedevice\n"
           "0 1 35 { /i exch def i 36 div 1 0.6 sethsbcolor 0 i 12 mul 288 12 rectfill } for\n"
           "0 setgray /Helvetica findfont 20 scalefont setfont 36 200 moveto (Photo 4x6) show showpage\n";
}

void ghostscript(const std::string &folder, const std::vector<std::string> &args)
{
    std::vector<std::string> argv = {"/usr/bin/gs", "-q", "-dNOPAUSE", "-dBATCH", "-dSAFER"};
    argv.insert(argv.end(), args.begin(), args.end());
    ProcessOptions options;
    options.cwd = folder;
    const ProcessResult r = run_process(argv, options);
    if (r.exit_code != 0)
        throw std::runtime_error("gs " + args.back() + ": " + r.err);
}

// The PostScript a document is made from, written once.
std::string source(const std::string &folder, const std::string &name)
{
    const std::string path = folder + "/" + name;
    if (!std::filesystem::exists(path)) {
        if (name == "photo-4x6.ps")
            write_file(path, photo_ps());
        else
            write_file(path, name == "document-a4.ps" ? document_ps(595, 842, "A4") : document_ps(612, 792, "Letter"));
    }
    return name;
}

// A PWG raster sample from its document's name ("onepage-a4"), or false for one we do not make.
bool make_raster_sample(const std::string &folder, const std::string &name)
{
    const size_t folderLength = sizeof kRasterFolder - 1, suffixLength = sizeof kRasterSuffix - 1;
    if (name.compare(0, folderLength, kRasterFolder) != 0 || name.size() <= folderLength + suffixLength ||
        name.compare(name.size() - suffixLength, suffixLength, kRasterSuffix) != 0)
        return false;
    const std::string document = name.substr(folderLength, name.size() - folderLength - suffixLength);
    std::vector<std::string> args = {"-sDEVICE=pwgraster", "-dcupsColorSpace=18", "-dcupsBitsPerColor=8", "-r600"};
    if (document == "color.jpg-4x6" || document == "gray.jpg-4x6") {
        args.push_back(source(folder, "photo-4x6.ps"));
    } else if (document == "document-a4" || document == "document-letter") {
        args.push_back(source(folder, document + ".ps"));
    } else if (document == "onepage-a4" || document == "onepage-letter") {
        args.push_back("-dLastPage=1");
        args.push_back(source(folder, "document-" + document.substr(8) + ".ps"));
    } else {
        return false;
    }
    std::filesystem::create_directories(folder + "/" + kRasterFolder);
    args.insert(args.end() - 1, "-sOutputFile=" + name);
    ghostscript(folder, args);
    return true;
}

// A document the test names, or false for one we do not make.
bool make_document(const std::string &folder, const std::string &name)
{
    if (name == "document-a4.ps" || name == "document-letter.ps") {
        source(folder, name);
    } else if (name == "document-a4.pdf" || name == "document-letter.pdf") {
        const std::string ps = source(folder, name.substr(0, name.size() - 4) + ".ps");
        ghostscript(folder, {"-sDEVICE=pdfwrite", "-sOutputFile=" + name, ps});
    } else if (name == "color.jpg" || name == "gray.jpg") {
        const std::string device = name == "color.jpg" ? "-sDEVICE=jpeg" : "-sDEVICE=jpeggray";
        ghostscript(folder, {device, "-r150", "-sOutputFile=" + name, source(folder, "photo-4x6.ps")});
    } else {
        return make_raster_sample(folder, name);
    }
    return true;
}

// The quoted or bare value after a directive ("NAME \"x\"" -> "x").
std::string directive_value(const std::string &line, size_t start)
{
    while (start < line.size() && (line[start] == ' ' || line[start] == '\t'))
        ++start;
    if (start < line.size() && line[start] == '"') {
        const size_t end = line.find('"', start + 1);
        return line.substr(start + 1, end == std::string::npos ? std::string::npos : end - start - 1);
    }
    const size_t end = line.find_first_of(" \t\r", start);
    return line.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

} // namespace

void copy_ipp_everywhere_tests(const std::string &folder)
{
    for (const char *name : kIppEverywhereTestFiles)
        write_file(folder + "/" + name, read_file(source_file(std::string("tests/integration/printer-app/ipp-everywhere/") + name)));
}

std::vector<IpptoolTest> ipptool_tests(const std::string &folder)
{
    std::vector<IpptoolTest> tests;
    for (const char *file : kIppEverywhereTestFiles) {
        std::istringstream in(read_file(folder + "/" + file));
        std::string line;
        int depth = 0;
        while (std::getline(in, line)) {
            const size_t start = line.find_first_not_of(" \t");
            if (start == std::string::npos || line[start] == '#')
                continue;
            // A test is a block at the top level; collections open blocks inside it.
            if (line[start] == '{' && depth++ == 0)
                tests.emplace_back();
            else if (line.back() == '{')
                ++depth;
            else if (line[start] == '}')
                --depth;
            else if (depth == 1 && line.compare(start, 5, "NAME ") == 0)
                tests.back().name = directive_value(line, start + 5);
            else if (depth == 1 && line.compare(start, 5, "FILE ") == 0 && line.find('$', start) == std::string::npos)
                tests.back().file = directive_value(line, start + 5);
        }
    }
    return tests;
}

std::set<std::string> make_sample_documents(const std::string &folder, const std::vector<IpptoolTest> &tests)
{
    std::set<std::string> placeholders;
    std::set<std::string> made;
    for (const IpptoolTest &test : tests) {
        if (test.file.empty() || !made.insert(test.file).second)
            continue;
        if (make_document(folder, test.file))
            continue;
        const std::filesystem::path path = std::filesystem::path(folder) / test.file;
        std::filesystem::create_directories(path.parent_path());
        write_file(path.string(), "");
        placeholders.insert(test.file);
    }
    return placeholders;
}

} // namespace varkon::test
