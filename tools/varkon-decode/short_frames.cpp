// SPDX-License-Identifier: GPL-2.0-or-later
// Reader of platform C and Z streams: PJL lines, escape sequences, the firmware
// version text, runs of 00 00 and short frames with the data they announce. It
// checks what belongs to one item (length, checksum, data present); the order of
// items and the image data are checked by the job and page checks.
#include "stream_items.h"
#include "wire_read.h"

#include <cstring>
#include <iterator>

namespace varkon::decode::detail {
namespace {

struct ShortFrameKind {
    unsigned code;
    unsigned length;
    unsigned other_length;  // second allowed length, 0 when there is one
    Sym sym;
    const char *name;
};

// The same code means different frames on C and Z, so each platform has its table.
constexpr ShortFrameKind kShortFramesC[] = {
    {0x0C, 18, 0, Sym::RasterHeader, "raster image header"},
    {0x11, 6, 0, Sym::JobSpec, "job specification"},
    {0x12, 18, 0, Sym::PageSpec, "page specification"},
    {0x13, 12, 0, Sym::CustomPaper, "custom paper"},
    {0x15, 5, 0, Sym::Density, "density"},
    {0x16, 4, 0, Sym::Abort, "abort"},
    {0x17, 4, 0, Sym::Reset, "reset"},
    {0x18, 4, 0, Sym::FormFeed, "form feed"},
    {0x19, 5, 0, Sym::TonerSave, "toner save"},
    {0x1A, 6, 0, Sym::ImageChecksum, "image data checksum"},
    {0x1E, 6, 0, Sym::Coverage, "coverage"},
    {0x1F, 8, 0, Sym::SystemDate, "system date"},
    {0x30, 4, 0, Sym::ManualDuplex, "manual duplex"},
    {0x31, 5, 0, Sym::QueryStatus, "query status"},
    {0x32, 4, 0, Sym::HostUse, "host use"},
    {0x40, 4, 0, Sym::MachineDuplex, "machine duplex"},
};

constexpr ShortFrameKind kShortFramesZ[] = {
    {0x0C, 18, 0, Sym::RasterHeader, "raster image header"},
    {0x11, 9, 0, Sym::JobSpec, "job specification"},
    {0x12, 18, 0, Sym::PageSpec, "page specification"},
    {0x13, 12, 0, Sym::CustomPaper, "custom paper"},
    {0x15, 5, 0, Sym::Density, "density"},
    {0x17, 4, 0, Sym::Reset, "reset"},
    {0x18, 4, 0, Sym::FormFeed, "form feed"},
    {0x19, 7, 0, Sym::Coverage, "coverage"},
    {0x1A, 48, 0, Sym::Band, "JBIG band"},
    {0x1B, 4, 0, Sym::ManualDuplex, "manual duplex"},
    {0x1E, 36, 40, Sym::TonerParams, "toner parameters"},
    {0x1F, 5, 0, Sym::FineMode, "fine mode"},
};

constexpr bool codes_ascend(const ShortFrameKind *table, size_t n)
{
    for (size_t i = 1; i < n; ++i)
        if (table[i - 1].code >= table[i].code)
            return false;
    return true;
}
static_assert(codes_ascend(kShortFramesC, std::size(kShortFramesC)), "one entry per C code");
static_assert(codes_ascend(kShortFramesZ, std::size(kShortFramesZ)), "one entry per Z code");

constexpr unsigned char kUel[] = {0x1B, '%', '-', '1', '2', '3', '4', '5', 'X'};
constexpr unsigned char kUelC[] = {0x1B, 0xFF, '-', '1', '2', '3', '4', '5', 'X'};
constexpr size_t kMaxPjlLine = 255;
constexpr size_t kMaxVersionText = 32;

const ShortFrameKind *find_kind(Platform platform, unsigned code)
{
    const ShortFrameKind *begin = platform == Platform::C ? std::begin(kShortFramesC) : std::begin(kShortFramesZ);
    const ShortFrameKind *end = platform == Platform::C ? std::end(kShortFramesC) : std::end(kShortFramesZ);
    for (const ShortFrameKind *kind = begin; kind != end; ++kind)
        if (kind->code == code)
            return kind;
    return nullptr;
}

bool fail(Violation &violation, size_t offset, std::string reason)
{
    violation = {offset, std::move(reason)};
    return false;
}

bool read_zero_pairs(const unsigned char *data, size_t size, size_t pos, Token &token, Violation &violation)
{
    size_t end = pos;
    while (size - end >= 2 && data[end] == 0 && data[end + 1] == 0)
        end += 2;
    if (end == pos)
        return fail(violation, pos, "single 00 byte; keep-alive zero bytes come in pairs");
    token.sym = Sym::ZeroPairs;
    token.item.name = "00 00";
    token.item.length = end - pos;
    add_number(token.item, "pairs", static_cast<long long>((end - pos) / 2));
    return true;
}

bool read_escape(const unsigned char *data, size_t size, size_t pos, Token &token, Violation &violation)
{
    size_t left = size - pos;
    size_t n = left < sizeof kUel ? left : sizeof kUel;
    bool uel = std::memcmp(data + pos, kUel, n) == 0;
    bool uel_c = std::memcmp(data + pos, kUelC, n) == 0;
    if (!uel && !uel_c)
        return fail(violation, pos, "unknown escape sequence");
    if (left < sizeof kUel)
        return fail(violation, pos, "stream ends inside a universal exit language sequence");
    token.sym = uel ? Sym::Uel : Sym::UelC;
    token.item.name = uel ? "UEL" : "UEL_CMD_C";
    token.item.length = sizeof kUel;
    // The job's closing sequence ends its last UEL with a line end.
    if (uel && left >= sizeof kUel + 2 && data[pos + 9] == '\r' && data[pos + 10] == '\n') {
        token.item.length += 2;
        add_text(token.item, "line_end", "CRLF");
    }
    return true;
}

Sym pjl_sym(const std::string &line)
{
    auto starts = [&](const char *prefix) { return line.compare(0, std::strlen(prefix), prefix) == 0; };
    if (line == "@PJL")
        return Sym::Pjl;
    if (line == "@PJL EOJ")
        return Sym::PjlEoj;
    if (line == "@PJL ENTER LANGUAGE=PL")
        return Sym::PjlEnterLanguage;
    if (line == "@PJL LANGUAGEVERSION=1.0")
        return Sym::PjlLanguageVersion;
    if (starts("@PJL JOBTIME="))
        return Sym::PjlJobTime;
    if (starts("@PJL JOBOWNER="))
        return Sym::PjlJobOwner;
    return Sym::PjlOther;
}

bool read_pjl_line(const unsigned char *data, size_t size, size_t pos, Token &token, Violation &violation)
{
    size_t left = size - pos;
    if (left < 4 || std::memcmp(data + pos, "@PJL", 4) != 0)
        return fail(violation, pos, left < 4 && std::memcmp(data + pos, "@PJL", left) == 0
                                        ? "stream ends inside a PJL line"
                                        : "unexpected byte 0x40");
    size_t limit = left < kMaxPjlLine ? left : kMaxPjlLine;
    size_t i = 4;
    while (i < limit && data[pos + i] != '\n') {
        unsigned char c = data[pos + i];
        bool line_end_cr = c == '\r' && i + 1 < left && data[pos + i + 1] == '\n';
        if ((c < 0x20 || c > 0x7E) && !line_end_cr)
            return fail(violation, pos + i, message("byte 0x%02x inside a PJL line", c));
        ++i;
    }
    if (i == limit)
        return fail(violation, pos, limit == left ? "stream ends inside a PJL line"
                                                  : message("PJL line longer than %zu bytes", kMaxPjlLine));
    size_t text_end = (i > 0 && data[pos + i - 1] == '\r') ? i - 1 : i;
    std::string line(reinterpret_cast<const char *>(data + pos), text_end);
    token.sym = pjl_sym(line);
    token.item.name = "PJL";
    token.item.length = i + 1;
    add_text(token.item, "line", line);
    return true;
}

bool read_version(const unsigned char *data, size_t size, size_t pos, Token &token, Violation &violation)
{
    static constexpr char kPrefix[] = "versions=";
    constexpr size_t prefix_len = sizeof kPrefix - 1;
    size_t left = size - pos;
    size_t n = left < prefix_len ? left : prefix_len;
    if (std::memcmp(data + pos, kPrefix, n) != 0)
        return fail(violation, pos, message("unexpected byte 0x%02x", data[pos]));
    size_t i = n;
    while (i < left && i < prefix_len + kMaxVersionText && ((data[pos + i] >= '0' && data[pos + i] <= '9') || data[pos + i] == '.'))
        ++i;
    if (i == prefix_len || n < prefix_len)
        return fail(violation, pos, i == left ? "stream ends inside the firmware version text"
                                              : "firmware version text without a version");
    token.sym = Sym::Version;
    token.item.name = "firmware version";
    token.item.length = i;
    add_text(token.item, "text", std::string(reinterpret_cast<const char *>(data + pos), i));
    return true;
}

void add_job_spec(Platform platform, const unsigned char *f, Item &item)
{
    if (platform == Platform::C) {
        add_number(item, "job", f[3]);
        add_hex(item, "options", f[4]);
    } else {
        add_hex(item, "options", f[3]);
        add_number(item, "job", (long long)(int32_t)get_le32(f + 4));
    }
}

void add_page_spec(const unsigned char *f, Item &item)
{
    add_number(item, "paper", f[3]);
    add_number(item, "media", f[4]);
    add_number(item, "resolution_x", f[5]);
    add_number(item, "resolution_y", f[6]);
    add_number(item, "tray", f[7]);
    add_hex(item, "feed", f[8]);
    add_number(item, "copies", get_le16(f + 9));
    add_number(item, "margin_x", get_le16(f + 11));
    add_number(item, "margin_y", get_le16(f + 13));
    add_number(item, "page", get_le16(f + 15));
}

void add_custom_paper(const unsigned char *f, Item &item)
{
    add_number(item, "physical_width", get_le16(f + 3));
    add_number(item, "physical_height", get_le16(f + 5));
    add_number(item, "printable_width", get_le16(f + 7));
    add_number(item, "printable_height", get_le16(f + 9));
}

void add_raster_header(const unsigned char *f, Item &item)
{
    add_number(item, "plane", f[3]);
    add_hex(item, "format", f[4]);
    add_number(item, "width", get_le16(f + 5));
    add_number(item, "height", get_le16(f + 7));
    add_number(item, "raster_width", get_le16(f + 9));
    add_number(item, "raster_height", get_le16(f + 11));
    add_number(item, "compressed_bytes", get_le32(f + 13));
}

void add_band(const unsigned char *f, Item &item)
{
    add_number(item, "dl", f[3]);
    add_number(item, "d", f[4]);
    add_number(item, "planes", f[5]);
    add_number(item, "reserved", f[6]);
    add_number(item, "width", get_le32(f + 7));
    add_number(item, "stripe_lines", get_le32(f + 11));
    add_number(item, "height", get_le32(f + 15));
    add_number(item, "mx", f[19]);
    add_number(item, "my", f[20]);
    add_number(item, "order", f[21]);
    add_hex(item, "options", f[22]);
    add_number(item, "size", get_le32(f + 23));
    add_number(item, "padded_size", get_le32(f + 27));
    add_number(item, "x", get_le32(f + 31));
    add_number(item, "y", get_le32(f + 35));
    add_number(item, "plane", get_le32(f + 39));
    add_number(item, "bit_slice", get_le32(f + 43));
}

// Z sends the coverage as 6, 6 and 4 bits in three bytes.
void add_coverage_z(const unsigned char *f, Item &item)
{
    add_number(item, "printed_points", f[3] | f[4] << 6 | f[5] << 12);
    add_hex(item, "group0", f[3]);
    add_hex(item, "group1", f[4]);
    add_hex(item, "group2", f[5]);
}

void add_frame_fields(Platform platform, const ShortFrameKind &kind, const unsigned char *f, Item &item)
{
    bool c = platform == Platform::C;
    switch (kind.sym) {
    case Sym::JobSpec: add_job_spec(platform, f, item); break;
    case Sym::PageSpec: add_page_spec(f, item); break;
    case Sym::CustomPaper: add_custom_paper(f, item); break;
    case Sym::RasterHeader: add_raster_header(f, item); break;
    case Sym::Band: add_band(f, item); break;
    case Sym::Density: add_number(item, "density", f[3]); break;
    case Sym::TonerSave: add_number(item, "enable", f[3]); break;
    case Sym::FineMode: add_number(item, "fine_mode", f[3]); break;
    case Sym::ImageChecksum: add_hex(item, "image_checksum", get_le16(f + 3), 4); break;
    case Sym::QueryStatus: add_hex(item, "parameter", f[3]); break;
    case Sym::TonerParams: add_number(item, "table_bytes", kind.length == f[1] ? kind.length : kind.other_length); break;
    case Sym::Coverage:
        if (c)
            add_number(item, "printed_points", get_le16(f + 3));
        else
            add_coverage_z(f, item);
        break;
    case Sym::SystemDate:
        add_number(item, "year", get_le16(f + 3));
        add_number(item, "month", f[5]);
        add_number(item, "day", f[6]);
        break;
    default: break;
    }
}

// Data that follows the frame without a gap: the whole JBIG page after a C raster
// image header, one band's JBIG image after a Z band frame.
size_t announced_data(Platform platform, Sym sym, const unsigned char *f)
{
    if (sym == Sym::RasterHeader && platform == Platform::C)
        return get_le32(f + 13);
    if (sym == Sym::Band)
        return get_le32(f + 23);
    return 0;
}

bool read_frame(Platform platform, const unsigned char *data, size_t size, size_t pos, Token &token,
                Violation &violation)
{
    size_t left = size - pos;
    if (left < 3)
        return fail(violation, pos, "stream ends inside a short frame header");
    const unsigned char *f = data + pos;
    unsigned length = f[1], code = f[2];
    const ShortFrameKind *kind = find_kind(platform, code);
    if (!kind)
        return fail(violation, pos, message("unknown short frame code 0x%02x on platform %s", code, platform_name(platform)));
    if (length != kind->length && (kind->other_length == 0 || length != kind->other_length))
        return fail(violation, pos, kind->other_length
            ? message("short frame 0x%02x length %u, expected %u or %u", code, length, kind->length, kind->other_length)
            : message("short frame 0x%02x length %u, expected %u", code, length, kind->length));
    if (left < length)
        return fail(violation, pos, message("stream ends inside short frame 0x%02x: %u bytes announced, %zu present",
                                            code, length, left));
    unsigned expected = (0x100 - sum8(f, length - 1)) & 0xFF;
    if (f[length - 1] != expected)
        return fail(violation, pos, message("short frame 0x%02x checksum 0x%02x, expected 0x%02x", code,
                                            f[length - 1], expected));
    size_t data_size = announced_data(platform, kind->sym, f);
    if (data_size > left - length)
        return fail(violation, pos, message("%s announces %zu data bytes, %zu present", kind->name, data_size,
                                            left - length));
    token.sym = kind->sym;
    token.item.name = kind->name;
    token.item.length = length + data_size;
    token.payload_at = length;
    token.payload_size = data_size;
    add_hex(token.item, "code", code);
    add_frame_fields(platform, *kind, f, token.item);
    return true;
}

} // namespace

bool read_short_item(Platform platform, const unsigned char *data, size_t size, size_t pos, Token &token,
                     Violation &violation)
{
    token = Token{};
    token.item.offset = pos;
    token.bytes = data + pos;
    switch (data[pos]) {
    case 0x00: return read_zero_pairs(data, size, pos, token, violation);
    case 0x0B: return read_frame(platform, data, size, pos, token, violation);
    case 0x1B: return read_escape(data, size, pos, token, violation);
    case '@': return read_pjl_line(data, size, pos, token, violation);
    case 'v': return read_version(data, size, pos, token, violation);
    default: return fail(violation, pos, message("unexpected byte 0x%02x", data[pos]));
    }
}

} // namespace varkon::decode::detail
