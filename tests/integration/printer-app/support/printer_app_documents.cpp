// SPDX-License-Identifier: GPL-2.0-or-later
// Test documents with black boxes, and finding the boxes in decoded pages.
#include "printer_app_documents.h"

#include "run_process.h"

#include <algorithm>
#include <cstdio>
#include <sstream>
#include <stdexcept>

namespace varkon::test {

namespace {

// A box shrunk by a tenth of its size on every side: its edges may move by
// the margins and the scaling.
Box inner(const Box &b)
{
    const double dx = (b.x1 - b.x0) / 10, dy = (b.y1 - b.y0) / 10;
    return {b.x0 + dx, b.y0 + dy, b.x1 - dx, b.y1 - dy};
}

// PostScript of one A4 page with the boxes (its origin bottom left).
std::string postscript_page(const PageBoxes &boxes)
{
    std::ostringstream ps;
    ps << "%!PS\n<< /PageSize [595 842] >> setpagedevice\n0 setgray\n";
    for (const Box &b : boxes)
        ps << b.x0 * 595 << ' ' << (1 - b.y1) * 842 << ' ' << (b.x1 - b.x0) * 595 << ' ' << (b.y1 - b.y0) * 842
           << " rectfill\n";
    ps << "showpage\n";
    return ps.str();
}

} // namespace

cups_page_header2_t pwg_a4_header(unsigned dpi)
{
    cups_page_header2_t header;
    if (!cupsRasterInitPWGHeader(&header, pwgMediaForPWG("iso_a4_210x297mm"), "sgray_8", static_cast<int>(dpi),
                                 static_cast<int>(dpi), "one-sided", nullptr))
        throw std::runtime_error("cupsRasterInitPWGHeader failed");
    return header;
}

LineFill box_fill(const PageBoxes &boxes, unsigned width, unsigned height)
{
    return [boxes, width, height](unsigned y, unsigned char *line, unsigned bytes) {
        for (const Box &b : boxes) {
            if (y < b.y0 * height || y >= b.y1 * height)
                continue;
            const unsigned x0 = static_cast<unsigned>(b.x0 * width);
            const unsigned x1 = std::min(bytes, static_cast<unsigned>(b.x1 * width));
            for (unsigned x = x0; x < x1; ++x)
                line[x] = 0;
        }
    };
}

std::string raster_document(const std::vector<PageBoxes> &pages, cups_mode_t mode, unsigned dpi)
{
    std::vector<RasterPage> raster;
    for (const PageBoxes &boxes : pages) {
        const cups_page_header2_t header = pwg_a4_header(dpi);
        raster.emplace_back(header, box_fill(boxes, header.cupsWidth, header.cupsHeight));
    }
    return make_raster(raster, mode);
}

std::string pdf_document(const std::vector<PageBoxes> &pages)
{
    std::vector<std::string> objects;
    std::string kids;
    const size_t n = pages.size();
    for (size_t i = 0; i < n; ++i)
        kids += std::to_string(3 + 2 * i) + " 0 R ";
    objects.push_back("<< /Type /Catalog /Pages 2 0 R >>");
    objects.push_back("<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(n) + " >>");
    for (size_t i = 0; i < n; ++i) {
        std::ostringstream content;
        content << "0 g\n";
        for (const Box &b : pages[i])
            content << b.x0 * 595 << ' ' << (1 - b.y1) * 842 << ' ' << (b.x1 - b.x0) * 595 << ' '
                    << (b.y1 - b.y0) * 842 << " re f\n";
        objects.push_back("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] /Contents " +
                          std::to_string(4 + 2 * i) + " 0 R >>");
        objects.push_back("<< /Length " + std::to_string(content.str().size()) + " >>\nstream\n" + content.str() +
                          "endstream");
    }
    std::string pdf = "%PDF-1.4\n";
    std::vector<size_t> offsets;
    for (size_t i = 0; i < objects.size(); ++i) {
        offsets.push_back(pdf.size());
        pdf += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    const size_t xref = pdf.size();
    pdf += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (size_t offset : offsets) {
        char line[32];
        std::snprintf(line, sizeof line, "%010zu 00000 n \n", offset);
        pdf += line;
    }
    pdf += "trailer\n<< /Size " + std::to_string(objects.size() + 1) + " /Root 1 0 R >>\nstartxref\n" +
           std::to_string(xref) + "\n%%EOF\n";
    return pdf;
}

void image_document(const PageBoxes &boxes, const std::string &device, const std::string &path)
{
    const std::string ps = path + ".ps";
    write_file(ps, postscript_page(boxes));
    const ProcessResult r = run_process({"/usr/bin/gs", "-q", "-dNOPAUSE", "-dBATCH", "-dSAFER", "-sDEVICE=" + device,
                                         "-r72", "-g595x842", "-sOutputFile=" + path, ps});
    if (r.exit_code != 0)
        throw std::runtime_error("gs " + device + ": " + r.err);
}

double ink_share(const decode::Page &page, const Box &box)
{
    const uint32_t x0 = static_cast<uint32_t>(box.x0 * page.width), x1 = static_cast<uint32_t>(box.x1 * page.width);
    const uint32_t y0 = static_cast<uint32_t>(box.y0 * page.height), y1 = static_cast<uint32_t>(box.y1 * page.height);
    uint64_t ink = 0, all = 0;
    for (uint32_t y = y0; y < y1; y += 2)
        for (uint32_t x = x0; x < x1; x += 2, ++all)
            ink += page.level(x, y) != 0 ? 1 : 0;
    return all == 0 ? 0 : static_cast<double>(ink) / static_cast<double>(all);
}

std::string boxes_found(const decode::Page &page, const PageBoxes &boxes, const Box &clear)
{
    std::ostringstream problems;
    for (const Box &b : boxes) {
        const double share = ink_share(page, inner(b));
        if (share < 0.97)
            problems << "box at " << b.x0 << "," << b.y0 << " is " << share * 100 << "% black; ";
    }
    const double stray = ink_share(page, clear);
    if (stray > 0.01)
        problems << "clear area at " << clear.x0 << "," << clear.y0 << " is " << stray * 100 << "% black; ";
    return problems.str();
}

} // namespace varkon::test
