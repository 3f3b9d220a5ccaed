// SPDX-License-Identifier: GPL-2.0-or-later
// Documents, PPDs and surroundings for the pstoVarkon tests: PDFs and
// PostScript made with the real tools, PPDs written on the spot, and a
// descriptor 4 that answers no side-channel request.
#pragma once

#include "run_process.h"

#include <string>
#include <vector>

namespace varkon::test {

// Texts of the PostScript jobs the tests feed: the PJL job-name line they
// start with, the end of the job, and the trailer the filter ends a cancelled
// Jurvex job with.
extern const std::string kJobNameLine;
extern const std::string kEndOfJob;
extern const std::string kTrailer;

// This machine's host name: the owner the filter gives Jurvex jobs.
std::string host_name();

// The queues of pstoVarkon's integration tests: a Jurvex 21, a Halvex 50, and
// a Varkon PostScript printer of neither family.
enum class Queue { Other, Jurvex, Halvex };
// The Duplex option (off, long edge) of a Halvex PPD.
extern const std::string kHalvexDuplexOption;
// A PPD for `queue` made by write_ppd, with `extra` appended.
std::string queue_ppd(const TempDir &dir, Queue queue, const std::string &extra = "");

// A PDF of `pages` pages of width x height points, made with ghostscript;
// page n shows "Page n". Returns its path.
std::string make_pdf(const TempDir &dir, const std::string &name, int pages, int width = 595, int height = 842);

// PostScript from a PDF by poppler's pdftops (page setup through "pdfSetupPaper").
std::string pdf_to_ps_poppler(const std::string &pdf, const std::string &ps);
// PostScript from a PDF by ghostscript's ps2write (page dictionaries with MediaBox).
std::string pdf_to_ps2write(const std::string &pdf, const std::string &ps);

// A PPD with the given ShortNickName and A4, A5 and Letter sizes; `extra` is
// appended (options such as Duplex or FeedEdge). Returns its path.
std::string write_ppd(const TempDir &dir, const std::string &name, const std::string &nickname,
                      const std::string &extra = "");

// The rotation of every page of a PDF, as pdfinfo reports it.
std::vector<int> page_rotations(const std::string &pdf);

// Number of pages of a PostScript document by its "%%Page:" comments.
int ps_page_count(const std::string &postscript);

// Count of non-overlapping occurrences of `needle` in `text`.
int count_of(const std::string &text, const std::string &needle);

// Holds descriptor 4 on /dev/null, read-only, for its lifetime: side-channel
// requests then fail at once, as they do when no backend is attached. Programs
// started meanwhile inherit it.
class NoSideChannel {
public:
    NoSideChannel();
    ~NoSideChannel();
    NoSideChannel(const NoSideChannel &) = delete;
    NoSideChannel &operator=(const NoSideChannel &) = delete;

private:
    int saved_ = -1;
};

} // namespace varkon::test
