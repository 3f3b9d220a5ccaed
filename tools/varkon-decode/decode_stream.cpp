// SPDX-License-Identifier: GPL-2.0-or-later
// Decoding a whole stream: tells the platform, reads item after item, and runs
// each through the job order, the page checks and the copy bookkeeping. The
// first violation ends the decoding; what was read before it is kept.
#include "copy_tracker.h"
#include "job_order.h"
#include "page_assembly.h"
#include "stream_items.h"

#include <cctype>
#include <cstring>

namespace varkon::decode {
namespace {

using detail::Phase;
using detail::Sym;
using detail::Token;

bool starts_with(const unsigned char *data, size_t size, const char *prefix, size_t n)
{
    return size >= n && std::memcmp(data, prefix, n) == 0;
}

class StreamDecoder {
public:
    StreamDecoder(Platform platform, const DecodeOptions &options, DecodedStream &out)
        : options_(options), out_(out), order_(platform), pages_(platform, options.max_image_bytes)
    {
    }

    // Checks one item in its place; returns the reason when it cannot stand there.
    std::string handle(const Token &token);
    std::string at_end() const;

private:
    std::string take_job_values(const Token &token);
    std::string page_finished();

    const DecodeOptions &options_;
    DecodedStream &out_;
    detail::JobOrder order_;
    detail::PageAssembler pages_;
    detail::CopyTracker copies_;
};

// The job time reads minute, hour, day, month and year: "05:14:07:12:2026".
bool job_time_valid(const std::string &text)
{
    if (text.size() != 16)
        return false;
    for (size_t i = 0; i < text.size(); ++i)
        if (i == 2 || i == 5 || i == 8 || i == 11 ? text[i] != ':' : !std::isdigit(static_cast<unsigned char>(text[i])))
            return false;
    auto number = [&](size_t at) { return std::stoi(text.substr(at, 2)); };
    return number(0) < 60 && number(3) < 24 && number(6) >= 1 && number(6) <= 31 && number(9) >= 1 &&
           number(9) <= 12;
}

std::string StreamDecoder::take_job_values(const Token &token)
{
    const Item &item = token.item;
    switch (token.sym) {
    case Sym::JobSpec:
        out_.job_id = item.number("job");
        out_.job_options = item.number("options");
        out_.job_started = true;
        break;
    case Sym::StartDoc: out_.job_started = true; break;
    case Sym::Density: out_.density = item.number("density"); break;
    case Sym::TonerSave: out_.toner_save = item.number("enable"); break;
    case Sym::FineMode: out_.fine_mode = item.number("fine_mode"); break;
    case Sym::SystemDate:
        out_.system_date = detail::message("%04lld-%02lld-%02lld", item.number("year"), item.number("month"),
                                           item.number("day"));
        break;
    case Sym::PjlJobTime:
        out_.job_time = item.field("line")->text.substr(std::strlen("@PJL JOBTIME="));
        if (!job_time_valid(out_.job_time))
            return "JOBTIME \"" + out_.job_time + "\" is not minute:hour:day:month:year";
        break;
    case Sym::PjlJobOwner: out_.job_owner = item.field("line")->text.substr(std::strlen("@PJL JOBOWNER=")); break;
    default: break;
    }
    return {};
}

std::string StreamDecoder::page_finished()
{
    Page page;
    if (std::string reason = pages_.finish(page); !reason.empty())
        return reason;
    if (out_.platform != Platform::M)
        if (std::string reason = copies_.place(page, pages_.digest()); !reason.empty())
            return reason;
    out_.copies = out_.platform == Platform::M ? 1 : copies_.copies();
    if (options_.on_page)
        options_.on_page(page);
    if (!options_.keep_pixels)
        std::vector<unsigned char>().swap(page.pixels);
    out_.pages.push_back(std::move(page));
    return {};
}

std::string StreamDecoder::handle(const Token &token)
{
    Phase before = order_.phase();
    if (std::string reason = order_.accept(token.sym); !reason.empty())
        return reason;
    Phase after = order_.phase();
    if (before != Phase::InPage && after == Phase::InPage) {
        std::string reason = pages_.begin(token, static_cast<int>(out_.pages.size()) + 1);
        order_.page_label = pages_.page().number;
        return reason;
    }
    if (before == Phase::InPage) {
        if (std::string reason = pages_.take(token); !reason.empty())
            return reason;
        return after == Phase::InPage ? std::string() : page_finished();
    }
    if (std::string reason = take_job_values(token); !reason.empty())
        return reason;
    if (token.sym == Sym::ManualDuplex) {
        out_.manual_duplex_at = token.item.offset;
        if (out_.platform != Platform::M)
            return copies_.manual_duplex();
    }
    if (before == Phase::BetweenPages && after == Phase::JobEnd && out_.platform != Platform::M)
        return copies_.job_end();
    if (after == Phase::Ended)
        out_.job_ended = true;
    return {};
}

std::string StreamDecoder::at_end() const { return order_.at_end(); }

bool read_item(Platform platform, const unsigned char *data, size_t size, size_t pos, Token &token,
               Violation &violation)
{
    if (platform == Platform::M)
        return detail::read_long_item(data, size, pos, token, violation);
    return detail::read_short_item(platform, data, size, pos, token, violation);
}

} // namespace

const char *platform_name(Platform platform)
{
    switch (platform) {
    case Platform::C: return "C";
    case Platform::Z: return "Z";
    case Platform::M: return "M";
    default: return "unknown";
    }
}

Platform platform_from_name(const std::string &name)
{
    if (name.size() != 1)
        return Platform::Unknown;
    switch (std::toupper(static_cast<unsigned char>(name[0]))) {
    case 'C': return Platform::C;
    case 'Z': return Platform::Z;
    case 'M': return Platform::M;
    default: return Platform::Unknown;
    }
}

Platform detect_platform(const unsigned char *data, size_t size)
{
    static constexpr char kUelC[] = "\x1b\xff-12345X";
    static constexpr char kUel[] = "\x1b%-12345X";
    // Keep-alive pairs may come before or between the first items of C and Z.
    auto skip_pairs = [&] {
        while (size >= 2 && data[0] == 0 && data[1] == 0)
            data += 2, size -= 2;
    };
    skip_pairs();
    if (starts_with(data, size, kUelC, 9))
        return Platform::C;
    if (!starts_with(data, size, kUel, 9))
        return Platform::Unknown;
    data += 9, size -= 9;
    if (starts_with(data, size, "JZJZ", 4))
        return Platform::M;
    skip_pairs();
    // Z opens with "@PJL" and then its JOBTIME or LANGUAGEVERSION line.
    if (starts_with(data, size, "@PJL", 4))
        return Platform::Z;
    return Platform::Unknown;
}

DecodedStream decode_stream(const unsigned char *data, size_t size, const DecodeOptions &options)
{
    DecodedStream out;
    out.platform = options.platform != Platform::Unknown ? options.platform : detect_platform(data, size);
    if (out.platform == Platform::Unknown) {
        out.violation = Violation{0, "the first bytes match no platform; name it with --platform"};
        return out;
    }
    StreamDecoder decoder(out.platform, options, out);
    size_t pos = 0;
    while (pos < size) {
        Token token;
        Violation violation;
        if (!read_item(out.platform, data, size, pos, token, violation)) {
            out.violation = violation;
            return out;
        }
        out.items.push_back(token.item);
        pos += token.item.length;
        if (token.sym == Sym::ZeroPairs)
            continue;
        if (std::string reason = decoder.handle(token); !reason.empty()) {
            out.violation = Violation{token.item.offset, reason};
            return out;
        }
    }
    if (std::string reason = decoder.at_end(); !reason.empty())
        out.violation = Violation{size, reason};
    return out;
}

} // namespace varkon::decode
