// SPDX-License-Identifier: GPL-2.0-or-later
// The PDF path of Halvex jobs: even pages turned for long-edge duplex by qpdf,
// then the document converted to PostScript by the CUPS pdftops filter. Each
// step puts a new temporary file in place of the job's working file.
#pragma once

#include <string>

// Replaces the working path (kWorkingPathField bytes) with a copy whose even
// pages are turned, when the job is printed long-edge on a Halvex printer.
void CreatRotateDuplex(char **argv, char *workingPath);

// True when the installed qpdf is version 8.0 or later.
bool getqpdfversion();

// Converts the working file to PostScript; 1 with the working path replaced,
// -1 on failure with the working path unchanged.
int pdf2ps(char *workingPath, char **argv);

// Deletes the first `name` and everything up to and including the next
// `separator` (or up to the end) from `text`.
void removestr(char *text, const char *name, const char *separator);

namespace varkon {

// Where the PDF path finds its programs.
struct PdfTools {
    const char *qpdf = "qpdf";
    const char *maker_qpdf = "/opt/varkon/bin/vkqpdf"; // for systems whose qpdf is older than 8
    const char *pdftops = "/usr/lib/cups/filter/pdftops";
};

inline constexpr PdfTools kSystemTools{};

bool qpdf_is_current(const PdfTools &tools);
void rotate_duplex(char **argv, char *workingPath, const PdfTools &tools);
int convert_to_ps(char *workingPath, char **argv, const PdfTools &tools);

// The even page numbers of a document of `count` pages, comma-separated.
std::string even_page_list(int count);

} // namespace varkon
