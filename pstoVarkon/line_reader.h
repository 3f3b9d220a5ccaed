// Whole-line reading of job files: no length limit, so a long line is never
// split, and NUL bytes inside a line are kept.
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

class LineReader {
public:
    explicit LineReader(std::FILE *file) : file_(file) {}
    ~LineReader() { std::free(buffer_); }
    LineReader(const LineReader &) = delete;
    LineReader &operator=(const LineReader &) = delete;

    // The next line with its line end; false at the end of the file or on a read error.
    bool next(std::string &line)
    {
        const ssize_t n = getline(&buffer_, &capacity_, file_);
        if (n < 0)
            return false;
        line.assign(buffer_, static_cast<std::size_t>(n));
        return true;
    }

private:
    std::FILE *file_;
    char *buffer_ = nullptr;
    std::size_t capacity_ = 0;
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
