// SPDX-License-Identifier: GPL-2.0-or-later
// Line reading of job files. Lines are read whole, NUL bytes included, up to
// kLongestLine bytes; a longer run without a line end (binary image data in a
// PostScript job) comes in pieces of that size, so that a job's memory stays
// bounded whatever its lines. The pieces are written in order, so the stream
// is unchanged; only a page-size or PJL pattern straddling a piece boundary of
// such a run would go unseen, and those are short lines of their own.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <sys/types.h>

namespace varkon {

struct FileCloser {
    void operator()(std::FILE *file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// The longest piece of a line that is held at once.
inline constexpr std::size_t kLongestLine = 1 << 20;

class LineReader {
public:
    explicit LineReader(std::FILE *file, std::size_t longest = kLongestLine) : file_(file), longest_(longest) {}

    // The next line with its line end, or the next kLongestLine bytes of a
    // longer one; false at the end of the file or on a read error.
    bool next(std::string &line)
    {
        line.clear();
        int c;
        while (line.size() < longest_ && (c = getc_unlocked(file_)) != EOF) {
            line.push_back(static_cast<char>(c));
            if (c == '\n')
                break;
        }
        return !line.empty();
    }

private:
    std::FILE *file_;
    std::size_t longest_;
};

// The line without its line end ("\n" or "\r\n").
inline std::string without_line_end(std::string line)
{
    if (!line.empty() && line.back() == '\n')
        line.pop_back();
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return line;
}

} // namespace varkon
