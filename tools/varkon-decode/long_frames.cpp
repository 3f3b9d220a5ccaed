// SPDX-License-Identifier: GPL-2.0-or-later
// Reader of platform M streams: the opening UEL and "JZJZ", and long frames with
// their big-endian header, parameter entries, fixed bodies and data packages.
// Every length in a header is checked against its frame type and against the
// bytes present before anything behind it is read.
#include "stream_items.h"
#include "wire_read.h"

#include <cstring>
#include <iterator>

namespace varkon::decode::detail {
namespace {

constexpr size_t kHeaderBytes = 16;
constexpr size_t kParamBytes = 12;
constexpr uint32_t kMaxPackage = 65536;

struct LongFrameKind {
    uint32_t type;
    uint32_t length;        // whole frame; 0 for data packages, whose length varies
    uint32_t params;
    uint32_t other_length;  // START_PAGE_CMD with the custom-paper entries
    uint32_t other_params;
    Sym sym;
    const char *name;
};

constexpr LongFrameKind kLongFrames[] = {
    {0x00, 52, 3, 0, 0, Sym::StartDoc, "START_DOC_CMD"},
    {0x01, 16, 0, 0, 0, Sym::EndDoc, "END_DOC_CMD"},
    {0x02, 184, 14, 220, 17, Sym::StartPage, "START_PAGE_CMD"},
    {0x03, 16, 0, 0, 0, Sym::EndPage, "END_PAGE_CMD"},
    {0x04, 36, 0, 0, 0, Sym::JbigParam, "JBIG_PARAM_CMD"},
    {0x05, 0, 0, 0, 0, Sym::JbigData, "JBIG_DATA_CMD"},
    {0x06, 16, 0, 0, 0, Sym::JbigEnd, "JBIG_END_CMD"},
    {0x0B, 16, 0, 0, 0, Sym::ManualDuplex, "MANUAL_DUPLEX_CMD"},
    {0x11, 88, 0, 0, 0, Sym::TonerParams, "TONER_PARAM"},
};

constexpr bool lengths_hold_params()
{
    for (const LongFrameKind &kind : kLongFrames) {
        if (kind.length && kind.length < kHeaderBytes + kParamBytes * kind.params)
            return false;
        if (kind.other_length && kind.other_length != kHeaderBytes + kParamBytes * kind.other_params)
            return false;
    }
    return true;
}
static_assert(lengths_hold_params(), "every fixed frame holds its parameter entries");

struct ParamName {
    uint32_t code;
    const char *name;
};

constexpr ParamName kParamNames[] = {
    {0x0000, "DOC_PARAM_0"}, {0x0001, "DOC_PARAM_1"}, {0x0002, "DOC_PARAM_2"},
    {0x0003, "PAPER_SIZE_PARAM"}, {0x0004, "COPIES_PARAM"}, {0x0005, "INPUT_TRAY_PARAM"},
    {0x0006, "MEDIA_TYPE_PARAM"}, {0x0007, "CHANNEL_NUM_PARAM"}, {0x0008, "H_RESOLUTION_PARAM"},
    {0x0009, "V_RESOLUTION_PARAM"}, {0x000C, "IMG_WIDTH_PARAM"}, {0x000D, "IMG_HEIGHT_PARAM"},
    {0x0010, "VIDEO_DEPTH_PARAM"}, {0x0011, "VIDEO_WIDTH_PARAM"}, {0x0012, "VIDEO_HEIGHT_PARAM"},
    {0x0016, "RET_PARAM"}, {0x0018, "CUSTOM_WIDTH_PARAM"}, {0x0019, "CUSTOM_HEIGHT_PARAM"},
    {0x001A, "CUSTOM_PAPER_UNIT_PARAM"}, {0xFF00, "DENSITY_PARAM"},
};

constexpr unsigned char kUel[] = {0x1B, '%', '-', '1', '2', '3', '4', '5', 'X'};
constexpr unsigned char kMarker[] = {'J', 'Z', 'J', 'Z'};

bool fail(Violation &violation, size_t offset, std::string reason)
{
    violation = {offset, std::move(reason)};
    return false;
}

bool read_fixed(const unsigned char *data, size_t size, size_t pos, const unsigned char *bytes, size_t n,
                Sym sym, const char *name, Token &token, Violation &violation)
{
    size_t left = size - pos;
    size_t m = left < n ? left : n;
    if (std::memcmp(data + pos, bytes, m) != 0)
        return fail(violation, pos, message("unexpected byte 0x%02x", data[pos]));
    if (m < n)
        return fail(violation, pos, message("stream ends inside %s", name));
    token.sym = sym;
    token.item.name = name;
    token.item.length = n;
    return true;
}

const LongFrameKind *find_kind(uint32_t type)
{
    for (const LongFrameKind &kind : kLongFrames)
        if (kind.type == type)
            return &kind;
    return nullptr;
}

const char *param_name(uint32_t code)
{
    for (const ParamName &param : kParamNames)
        if (param.code == code)
            return param.name;
    return nullptr;
}

// Header fields against the frame type: the parameter count, its byte count and the
// frame length all have to agree before the body is looked at.
bool check_header(const LongFrameKind &kind, const unsigned char *f, size_t pos, Violation &violation)
{
    uint32_t length = get_be32(f), count = get_be32(f + 8), count_bytes = get_be16(f + 12);
    if (count > 0xFFFF || count_bytes != count * kParamBytes)
        return fail(violation, pos, message("%s: %u parameters in %u bytes, expected %zu bytes each", kind.name,
                                            count, count_bytes, kParamBytes));
    if (count != kind.params && (kind.other_params == 0 || count != kind.other_params))
        return fail(violation, pos, message("%s carries %u parameters, expected %u", kind.name, count, kind.params));
    if (kind.sym == Sym::JbigData) {
        if (length <= kHeaderBytes || length > kHeaderBytes + kMaxPackage)
            return fail(violation, pos, message("JBIG_DATA_CMD length %u; a package carries 1 to %u bytes after its "
                                                "16-byte header", length, kMaxPackage));
        return true;
    }
    uint32_t expected = count == kind.params ? kind.length : kind.other_length;
    if (length != expected)
        return fail(violation, pos, message("%s length %u, expected %u", kind.name, length, expected));
    return true;
}

bool read_params(const LongFrameKind &kind, const unsigned char *f, size_t pos, Token &token, Violation &violation)
{
    uint32_t count = get_be32(f + 8);
    for (uint32_t i = 0; i < count; ++i) {
        const unsigned char *entry = f + kHeaderBytes + i * kParamBytes;
        uint32_t entry_length = get_be32(entry), code = get_be16(entry + 4);
        size_t at = pos + kHeaderBytes + i * kParamBytes;
        if (entry_length != kParamBytes)
            return fail(violation, at, message("parameter %u of %s has length %u, expected 12", i + 1, kind.name,
                                               entry_length));
        if (entry[6] != 1 || entry[7] != 0)
            return fail(violation, at, message("parameter %u of %s has type %u and reserve %u, expected 1 and 0",
                                               i + 1, kind.name, entry[6], entry[7]));
        const char *name = param_name(code);
        if (!name)
            return fail(violation, at, message("unknown parameter code 0x%04x in %s", code, kind.name));
        add_number(token.item, name, get_be32(entry + 8));
    }
    return true;
}

// The JBIG parameter block has the layout of a T.82 header (BIH).
void add_jbig_params(const unsigned char *f, Item &item)
{
    const unsigned char *b = f + kHeaderBytes;
    add_number(item, "dl", b[0]);
    add_number(item, "d", b[1]);
    add_number(item, "planes", b[2]);
    add_number(item, "reserved", b[3]);
    add_number(item, "width", get_be32(b + 4));
    add_number(item, "height", get_be32(b + 8));
    add_number(item, "stripe_lines", get_be32(b + 12));
    add_number(item, "mx", b[16]);
    add_number(item, "my", b[17]);
    add_number(item, "order", b[18]);
    add_hex(item, "options", b[19]);
}

bool read_long_frame(const unsigned char *data, size_t size, size_t pos, Token &token, Violation &violation)
{
    size_t left = size - pos;
    if (left < kHeaderBytes)
        return fail(violation, pos, message("stream ends inside a long frame header: 16 bytes needed, %zu present",
                                            left));
    const unsigned char *f = data + pos;
    uint32_t signature = get_be16(f + 14), type = get_be32(f + 4), length = get_be32(f);
    if (signature != 0x5A5A)
        return fail(violation, pos, message("long frame signature 0x%04x, expected 0x5a5a (\"ZZ\")", signature));
    const LongFrameKind *kind = find_kind(type);
    if (!kind)
        return fail(violation, pos, message("unknown long frame type 0x%02x", type));
    if (!check_header(*kind, f, pos, violation))
        return false;
    if (length > left)
        return fail(violation, pos, message("stream ends inside %s: %u bytes announced, %zu present", kind->name,
                                            length, left));
    token.sym = kind->sym;
    token.item.name = kind->name;
    token.item.length = length;
    add_number(token.item, "length", length);
    if (kind->sym == Sym::JbigData) {
        token.payload_at = kHeaderBytes;
        token.payload_size = length - kHeaderBytes;
        add_number(token.item, "payload", length - kHeaderBytes);
    }
    if (kind->sym == Sym::JbigParam)
        add_jbig_params(f, token.item);
    return read_params(*kind, f, pos, token, violation);
}

} // namespace

bool read_long_item(const unsigned char *data, size_t size, size_t pos, Token &token, Violation &violation)
{
    token = Token{};
    token.item.offset = pos;
    token.bytes = data + pos;
    if (data[pos] == 0x1B)
        return read_fixed(data, size, pos, kUel, sizeof kUel, Sym::Uel, "UEL", token, violation);
    if (data[pos] == 'J')
        return read_fixed(data, size, pos, kMarker, sizeof kMarker, Sym::Marker, "JZJZ", token, violation);
    return read_long_frame(data, size, pos, token, violation);
}

} // namespace varkon::decode::detail
