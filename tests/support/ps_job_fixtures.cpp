// SPDX-License-Identifier: GPL-2.0-or-later
// Test documents and surroundings for pstoVarkon.
#include "ps_job_fixtures.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <sstream>
#include <stdexcept>

namespace varkon::test {

namespace {

void run_or_throw(const std::vector<std::string> &argv)
{
    const ProcessResult r = run_process(argv);
    if (r.exit_code != 0)
        throw std::runtime_error(argv[0] + " failed: " + r.err);
}

} // namespace

std::string make_pdf(const TempDir &dir, const std::string &name, int pages, int width, int height)
{
    std::ostringstream ps;
    ps << "%!PS\n<< /PageSize [" << width << ' ' << height << "] >> setpagedevice\n"
       << "/Helvetica findfont 24 scalefont setfont\n"
       << "1 1 " << pages << " { /n exch def 72 200 moveto (Page ) show n 8 string cvs show showpage } for\n";
    const std::string source = dir.file(name + ".src.ps");
    write_file(source, ps.str());
    const std::string pdf = dir.file(name + ".pdf");
    run_or_throw({"/usr/bin/gs", "-q", "-dNOPAUSE", "-dBATCH", "-dSAFER", "-sDEVICE=pdfwrite",
                  "-sOutputFile=" + pdf, source});
    return pdf;
}

std::string pdf_to_ps_poppler(const std::string &pdf, const std::string &ps)
{
    run_or_throw({"/usr/bin/pdftops", pdf, ps});
    return ps;
}

std::string pdf_to_ps2write(const std::string &pdf, const std::string &ps)
{
    run_or_throw({"/usr/bin/gs", "-q", "-dNOPAUSE", "-dBATCH", "-dSAFER", "-sDEVICE=ps2write",
                  "-sOutputFile=" + ps, pdf});
    return ps;
}

const std::string kJobNameLine = "\x1b%-12345X@PJL JOB NAME=\"report\"\r\n";
const std::string kEndOfJob = "\x04\x1b%-12345X\n";
const std::string kTrailer = "%%Trailer\nend\n%%Pages: 4\n%%BoundingBox: 0 0 595 842\n%%EOF\n" + kEndOfJob;
const std::string kHalvexDuplexOption = "*OpenUI *Duplex/Two-Sided: PickOne\n*DefaultDuplex: None\n"
                                        "*Duplex None/Off: \"\"\n*Duplex DuplexNoTumble/Long Edge: \"\"\n"
                                        "*CloseUI: *Duplex\n";

std::string host_name()
{
    char name[256] = {};
    gethostname(name, sizeof name - 1);
    return name;
}

std::string queue_ppd(const TempDir &dir, Queue queue, const std::string &extra)
{
    switch (queue) {
    case Queue::Jurvex:
        return write_ppd(dir, "jurvex", "Varkon Jurvex 21 PS", extra);
    case Queue::Halvex:
        return write_ppd(dir, "halvex", "Halvex 50 Series PS", extra);
    default:
        return write_ppd(dir, "other", "Varkon Office PS", extra);
    }
}

std::string write_ppd(const TempDir &dir, const std::string &name, const std::string &nickname,
                      const std::string &extra)
{
    std::string ppd = "*PPD-Adobe: \"4.3\"\n"
                      "*FormatVersion: \"4.3\"\n"
                      "*FileVersion: \"1.0\"\n"
                      "*LanguageVersion: English\n"
                      "*LanguageEncoding: ISOLatin1\n"
                      "*PCFileName: \"VKTEST.PPD\"\n"
                      "*Manufacturer: \"Varkon\"\n"
                      "*Product: \"(Varkon Test)\"\n"
                      "*ModelName: \"Varkon Test\"\n"
                      "*ShortNickName: \"" + nickname + "\"\n"
                      "*NickName: \"" + nickname + "\"\n"
                      "*PSVersion: \"(3010.000) 0\"\n"
                      "*LanguageLevel: \"3\"\n"
                      "*ColorDevice: False\n"
                      "*OpenUI *PageSize/Media Size: PickOne\n"
                      "*OrderDependency: 10 AnySetup *PageSize\n"
                      "*DefaultPageSize: A4\n"
                      "*PageSize A4/A4: \"<</PageSize[595 842]>>setpagedevice\"\n"
                      "*PageSize A5/A5: \"<</PageSize[420 595]>>setpagedevice\"\n"
                      "*PageSize Letter/Letter: \"<</PageSize[612 792]>>setpagedevice\"\n"
                      "*CloseUI: *PageSize\n"
                      "*DefaultImageableArea: A4\n"
                      "*ImageableArea A4/A4: \"12 12 583 830\"\n"
                      "*ImageableArea A5/A5: \"12 12 408 583\"\n"
                      "*ImageableArea Letter/Letter: \"12 12 600 780\"\n"
                      "*DefaultPaperDimension: A4\n"
                      "*PaperDimension A4/A4: \"595 842\"\n"
                      "*PaperDimension A5/A5: \"420 595\"\n"
                      "*PaperDimension Letter/Letter: \"612 792\"\n" +
                      extra;
    const std::string path = dir.file(name + ".ppd");
    write_file(path, ppd);
    return path;
}

std::vector<int> page_rotations(const std::string &pdf)
{
    const ProcessResult r = run_process({"/usr/bin/pdfinfo", "-f", "1", "-l", "100000", pdf});
    if (r.exit_code != 0)
        throw std::runtime_error("pdfinfo failed: " + r.err);
    // Lines of the form "Page    2 rot:  180".
    std::vector<int> rotations;
    std::istringstream lines(r.out);
    std::string line;
    while (std::getline(lines, line)) {
        const std::size_t rot = line.find(" rot:");
        if (line.rfind("Page ", 0) == 0 && rot != std::string::npos)
            rotations.push_back(std::stoi(line.substr(rot + 5)));
    }
    return rotations;
}

int ps_page_count(const std::string &postscript) { return count_of(postscript, "\n%%Page:"); }

int count_of(const std::string &text, const std::string &needle)
{
    int n = 0;
    for (std::size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + needle.size()))
        ++n;
    return n;
}

NoSideChannel::NoSideChannel()
{
    saved_ = fcntl(4, F_DUPFD_CLOEXEC, 10);
    const int null_fd = open("/dev/null", O_RDONLY);
    if (null_fd < 0 || dup2(null_fd, 4) < 0)
        throw std::runtime_error("cannot hold descriptor 4");
    if (null_fd != 4)
        close(null_fd);
}

NoSideChannel::~NoSideChannel()
{
    if (saved_ >= 0) {
        dup2(saved_, 4);
        close(saved_);
    } else {
        close(4);
    }
}

} // namespace varkon::test
