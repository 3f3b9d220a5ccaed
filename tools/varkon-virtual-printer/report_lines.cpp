// SPDX-License-Identifier: GPL-2.0-or-later
// Report and log lines of the virtual printer.
#include "report_lines.h"

#include "write_all.h"

#include <cstdarg>
#include <cstdio>

namespace varkon {

bool ReportLines::print(const std::string &line)
{
    const std::string whole = line + "\n";
    std::lock_guard<std::mutex> lock(mutex_);
    const bool ok = write_all(fd_, whole.data(), whole.size()) == whole.size();
    failed_ = failed_ || !ok;
    return ok;
}

bool ReportLines::failed() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return failed_;
}

void log_message(const char *format, ...)
{
    char text[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    const std::string line = std::string("varkon-virtual-printer: ") + text + "\n";
    write_all(2, line.data(), line.size());
}

std::string printable(const std::string &text)
{
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte < 0x7f && byte != '\\') {
            out += c;
        } else {
            out += "\\x";
            out += kHex[byte >> 4];
            out += kHex[byte & 15];
        }
    }
    return out;
}

} // namespace varkon
