// SPDX-License-Identifier: GPL-2.0-or-later
// Page checks: the frames of a page against each other and against the JBIG
// headers inside the data (C: one image behind the raster image header, with the
// image checksum; Z: bands of 256 lines joined by their first line; M: data
// packages of 64 KiB joined into one image, against the JBIG parameter frame).
#include "page_assembly.h"
#include "wire_read.h"

#include <algorithm>
#include <iterator>

namespace varkon::decode::detail {
namespace {

constexpr uint32_t kBandLines = 256;
constexpr size_t kFullPackage = 65536;

// The JBIG parameters platform C takes (its raster header does not repeat them).
constexpr Bih kJbigC = {0, 0, 1, 0, 0, 0, 0, 8, 0, 0, 0x08};

// START_PAGE_CMD parameters in the order they are sent; the three custom-paper
// entries follow the paper size only when it is the custom paper 0.
constexpr uint32_t kStartPageCodes[] = {0x0003, 0x0004, 0x0005, 0x0006, 0x0007, 0x0008, 0x0009,
                                        0x0016, 0x000C, 0x000D, 0x0010, 0x0011, 0x0012, 0xFF00};
constexpr uint32_t kCustomCodes[] = {0x001A, 0x0018, 0x0019};
static_assert(std::size(kStartPageCodes) == 14 && std::size(kCustomCodes) == 3, "14 or 17 page parameters");

uint64_t fnv1a(uint64_t hash, const unsigned char *p, size_t n)
{
    if (hash == 0)
        hash = 0xcbf29ce484222325ull;
    for (size_t i = 0; i < n; ++i)
        hash = (hash ^ p[i]) * 0x100000001b3ull;
    return hash;
}

uint64_t count_ink(const Page &page)
{
    uint64_t ink = 0;
    for (unsigned char byte : page.pixels) {
        if (page.bits_per_pixel == 2)
            ink += (byte >> 6) + (byte >> 4 & 3) + (byte >> 2 & 3) + (byte & 3);
        else
            ink += __builtin_popcount(byte);
    }
    return ink;
}

// Compares one JBIG header value with the frame that announces it.
std::string compare(const char *frame, const char *field, long long announced, unsigned long long in_bih)
{
    if (static_cast<unsigned long long>(announced) == in_bih)
        return {};
    return message("%s %s %lld differs from the JBIG header's %llu", frame, field, announced, in_bih);
}

} // namespace

PageAssembler::PageAssembler(Platform platform, uint64_t max_image_bytes)
    : platform_(platform), max_image_bytes_(max_image_bytes)
{
}

void PageAssembler::add_digest(const Token &token) { digest_ = fnv1a(digest_, token.bytes, token.item.length); }

std::string PageAssembler::begin(const Token &token, int ordinal)
{
    page_ = Page{};
    page_.number = ordinal;
    page_.offset = token.item.offset;
    digest_ = 0;
    image_sum_ = 0;
    lines_ = 0;
    jbig_.clear();
    last_package_ = 0;
    image_width_ = 0;
    add_digest(token);
    return platform_ == Platform::M ? begin_long(token) : begin_short(token);
}

std::string PageAssembler::begin_short(const Token &token)
{
    const Item &item = token.item;
    page_.number = static_cast<int>(item.number("page"));
    page_.paper_code = item.number("paper");
    page_.media_type = item.number("media");
    page_.resolution_x = item.number("resolution_x");
    page_.resolution_y = item.number("resolution_y");
    page_.tray = item.number("tray");
    page_.copies = item.number("copies");
    page_.margin_x = item.number("margin_x");
    page_.margin_y = item.number("margin_y");
    if (page_.number == 0)
        return "page specification with page number 0";
    if (platform_ == Platform::Z && item.number("feed") != 0)
        return message("page specification byte 8 is 0x%02llx; platform Z sends 0", item.number("feed"));
    return {};
}

std::string PageAssembler::begin_long(const Token &token)
{
    const Item &item = token.item;
    bool custom = item.number("PAPER_SIZE_PARAM") == 0;
    size_t count = get_be32(token.bytes + 8);
    if (count != (custom ? 17u : 14u))
        return message("START_PAGE_CMD with paper %lld carries %zu parameters, expected %u",
                       item.number("PAPER_SIZE_PARAM"), count, custom ? 17u : 14u);
    std::vector<uint32_t> codes(std::begin(kStartPageCodes), std::end(kStartPageCodes));
    if (custom)
        codes.insert(codes.begin() + 1, std::begin(kCustomCodes), std::end(kCustomCodes));
    for (size_t i = 0; i < count; ++i) {
        uint32_t code = get_be16(token.bytes + 16 + 12 * i + 4);
        if (code != codes[i])
            return message("START_PAGE_CMD parameter %zu has code 0x%04x, expected 0x%04x", i + 1, code, codes[i]);
    }
    long long depth = item.number("VIDEO_DEPTH_PARAM"), width = item.number("VIDEO_WIDTH_PARAM");
    if (depth != 1 && depth != 2)
        return message("VIDEO_DEPTH_PARAM %lld; pages have 1 or 2 bits per pixel", depth);
    if (item.number("IMG_WIDTH_PARAM") != width * depth)
        return message("IMG_WIDTH_PARAM %lld, expected VIDEO_WIDTH_PARAM %lld times the depth %lld",
                       item.number("IMG_WIDTH_PARAM"), width, depth);
    if (item.number("IMG_HEIGHT_PARAM") != item.number("VIDEO_HEIGHT_PARAM"))
        return message("IMG_HEIGHT_PARAM %lld differs from VIDEO_HEIGHT_PARAM %lld", item.number("IMG_HEIGHT_PARAM"),
                       item.number("VIDEO_HEIGHT_PARAM"));
    page_.bits_per_pixel = static_cast<int>(depth);
    page_.width = static_cast<uint32_t>(width);
    page_.height = static_cast<uint32_t>(item.number("VIDEO_HEIGHT_PARAM"));
    image_width_ = static_cast<uint32_t>(item.number("IMG_WIDTH_PARAM"));
    page_.paper_code = item.number("PAPER_SIZE_PARAM");
    page_.copies = item.number("COPIES_PARAM");
    page_.tray = item.number("INPUT_TRAY_PARAM");
    page_.media_type = item.number("MEDIA_TYPE_PARAM");
    page_.resolution_x = item.number("H_RESOLUTION_PARAM");
    page_.resolution_y = item.number("V_RESOLUTION_PARAM");
    page_.density = item.number("DENSITY_PARAM");
    page_.physical_width = item.number("CUSTOM_WIDTH_PARAM");
    page_.physical_height = item.number("CUSTOM_HEIGHT_PARAM");
    return {};
}

std::string PageAssembler::take(const Token &token)
{
    add_digest(token);
    switch (token.sym) {
    case Sym::CustomPaper: return take_custom_paper(token.item);
    case Sym::Coverage: return take_coverage(token.item);
    case Sym::RasterHeader: return take_raster_header(token);
    case Sym::Band: return take_band(token);
    case Sym::UelC: image_sum_ += sum8(token.bytes, token.item.length); return {};
    case Sym::ImageChecksum: {
        page_.image_checksum = token.item.number("image_checksum");
        if (page_.image_checksum != (image_sum_ & 0xFF))
            return message("image data checksum 0x%04llx, expected 0x%02x", page_.image_checksum, image_sum_ & 0xFF);
        return {};
    }
    case Sym::JbigParam: return take_jbig_param(token.item);
    case Sym::JbigData: return take_jbig_data(token);
    case Sym::JbigEnd: return take_jbig_end();
    default: return {};
    }
}

// The sizes belong to the platform's custom paper number only; other papers send zeros.
std::string PageAssembler::take_custom_paper(const Item &item)
{
    page_.physical_width = item.number("physical_width");
    page_.physical_height = item.number("physical_height");
    page_.printable_width = item.number("printable_width");
    page_.printable_height = item.number("printable_height");
    long long custom = platform_ == Platform::C ? 255 : 0;
    bool sizes = page_.physical_width || page_.physical_height || page_.printable_width || page_.printable_height;
    if (page_.paper_code != custom && sizes)
        return message("custom paper frame carries sizes for paper %lld; only paper %lld has them",
                       page_.paper_code, custom);
    return {};
}

std::string PageAssembler::take_coverage(const Item &item)
{
    page_.coverage = item.number("printed_points");
    if (platform_ == Platform::Z &&
        (item.number("group0") > 0x3F || item.number("group1") > 0x3F || item.number("group2") > 0x0F))
        return "coverage frame groups exceed their 6, 6 and 4 bits";
    return {};
}

std::string PageAssembler::take_raster_header(const Token &token)
{
    const Item &item = token.item;
    page_.width = image_width_ = static_cast<uint32_t>(item.number("width"));
    page_.height = static_cast<uint32_t>(item.number("height"));
    page_.bits_per_pixel = 1;
    if (platform_ == Platform::C)
        return take_raster_c(token);
    if (item.number("compressed_bytes") != 0)
        return message("raster image header announces %lld compressed bytes; platform Z sends 0",
                       item.number("compressed_bytes"));
    uint64_t bytes = packed_bytes(page_.width, page_.height);
    if (bytes > max_image_bytes_)
        return message("page of %ux%u pixels is larger than the decoder's limit of %llu bytes", page_.width,
                       page_.height, static_cast<unsigned long long>(max_image_bytes_));
    page_.stride = (page_.width + 7) / 8;
    page_.pixels.assign(bytes, 0);
    return {};
}

std::string PageAssembler::take_raster_c(const Token &token)
{
    const Item &item = token.item;
    const unsigned char *data = token.bytes + token.payload_at;
    if (item.number("raster_width") != item.number("width"))
        return message("raster image width %lld differs from the image width %lld", item.number("raster_width"),
                       item.number("width"));
    Bih bih;
    if (!parse_bih(data, token.payload_size, bih))
        return message("compressed image of %zu bytes is shorter than its JBIG header", token.payload_size);
    const char *frame = "raster image header";
    std::string reason = compare(frame, "width", item.number("width"), bih.width);
    if (reason.empty())
        reason = compare(frame, "height", item.number("height"), bih.height);
    if (reason.empty())
        reason = compare(frame, "raster height", item.number("raster_height"), bih.stripe_lines & 0xFFFF);
    if (reason.empty() && (bih.mx != kJbigC.mx || bih.my != kJbigC.my || bih.order != kJbigC.order ||
                           bih.options != kJbigC.options))
        reason = message("JBIG header has mx %u, my %u, order %u, options 0x%02x; platform C takes 8, 0, 0, 0x08",
                         bih.mx, bih.my, bih.order, bih.options);
    if (!reason.empty())
        return reason;
    DecodedImage image;
    reason = decode_jbig(data, token.payload_size, max_image_bytes_, image);
    if (!reason.empty())
        return message("page image: %s", reason.c_str());
    image_sum_ = sum8(data, token.payload_size);
    page_.compressed_bytes = token.payload_size;
    page_.bands = 1;
    page_.stride = (image.width + 7) / 8;
    page_.pixels = std::move(image.rows);
    return {};
}

std::string PageAssembler::take_band(const Token &token)
{
    const Item &item = token.item;
    uint32_t height = static_cast<uint32_t>(item.number("height"));
    if (item.number("y") != lines_)
        return message("band at line %lld, expected line %u", item.number("y"), lines_);
    if (lines_ >= page_.height)
        return message("band beyond the page height of %u lines", page_.height);
    uint32_t expected = std::min(kBandLines, page_.height - lines_);
    if (height != expected || item.number("stripe_lines") != height)
        return message("band height %u and stripe %lld, expected %u", height, item.number("stripe_lines"), expected);
    if (item.number("width") != page_.width)
        return message("band width %lld differs from the page width %u", item.number("width"), page_.width);
    if (item.number("padded_size") != item.number("size"))
        return message("band padded size %lld differs from its size %lld", item.number("padded_size"),
                       item.number("size"));
    if (item.number("x") != 0 || item.number("plane") != 3 || item.number("bit_slice") != 0)
        return message("band position x %lld, plane %lld, bit slice %lld; expected 0, 3, 0", item.number("x"),
                       item.number("plane"), item.number("bit_slice"));
    Bih bih;
    if (!parse_bih(token.bytes + token.payload_at, token.payload_size, bih))
        return message("band data of %zu bytes is shorter than its JBIG header", token.payload_size);
    if (std::string reason = take_band_bih(item, bih); !reason.empty())
        return reason;
    DecodedImage image;
    std::string reason = decode_jbig(token.bytes + token.payload_at, token.payload_size, max_image_bytes_, image);
    if (!reason.empty())
        return message("band at line %u: %s", lines_, reason.c_str());
    page_.compressed_bytes += token.payload_size;
    ++page_.bands;
    reason = place_image(image, lines_);
    lines_ += height;
    return reason;
}

std::string PageAssembler::take_band_bih(const Item &item, const Bih &bih)
{
    const char *frame = "band frame";
    const std::pair<const char *, unsigned long long> fields[] = {
        {"dl", bih.dl}, {"d", bih.d}, {"planes", bih.planes}, {"width", bih.width},
        {"height", bih.height}, {"stripe_lines", bih.stripe_lines}, {"mx", bih.mx}, {"my", bih.my},
        {"order", bih.order}, {"options", bih.options},
    };
    for (const auto &[name, value] : fields)
        if (std::string reason = compare(frame, name, item.number(name), value); !reason.empty())
            return reason;
    return {};
}

std::string PageAssembler::place_image(const DecodedImage &image, uint32_t first_line)
{
    size_t stride = (image.width + 7) / 8;
    if (stride != page_.stride || first_line + uint64_t(image.height) > page_.height)
        return "band does not fit the page";
    std::copy(image.rows.begin(), image.rows.end(), page_.pixels.begin() + first_line * stride);
    return {};
}

std::string PageAssembler::take_jbig_param(const Item &item)
{
    jbig_param_ = item;
    if (item.number("width") != image_width_)
        return message("JBIG_PARAM_CMD width %lld differs from IMG_WIDTH_PARAM %u", item.number("width"),
                       image_width_);
    if (item.number("height") != page_.height)
        return message("JBIG_PARAM_CMD height %lld differs from IMG_HEIGHT_PARAM %u", item.number("height"),
                       page_.height);
    return {};
}

// Every package but the last carries a full 64 KiB.
std::string PageAssembler::take_jbig_data(const Token &token)
{
    if (last_package_ != 0 && last_package_ != kFullPackage)
        return message("JBIG_DATA_CMD after a package of %zu bytes; only the last package is shorter than %zu",
                       last_package_, kFullPackage);
    last_package_ = token.payload_size;
    jbig_.insert(jbig_.end(), token.bytes + token.payload_at, token.bytes + token.payload_at + token.payload_size);
    return {};
}

std::string PageAssembler::take_jbig_end()
{
    Bih bih;
    if (!parse_bih(jbig_.data(), jbig_.size(), bih))
        return message("page data of %zu bytes is shorter than its JBIG header", jbig_.size());
    const char *frame = "JBIG_PARAM_CMD";
    const std::pair<const char *, unsigned long long> fields[] = {
        {"dl", bih.dl}, {"d", bih.d}, {"planes", bih.planes}, {"reserved", bih.reserved},
        {"width", bih.width}, {"height", bih.height}, {"stripe_lines", bih.stripe_lines},
        {"mx", bih.mx}, {"my", bih.my}, {"order", bih.order}, {"options", bih.options},
    };
    for (const auto &[name, value] : fields)
        if (std::string reason = compare(frame, name, jbig_param_.number(name), value); !reason.empty())
            return reason;
    DecodedImage image;
    std::string reason = decode_jbig(jbig_.data(), jbig_.size(), max_image_bytes_, image);
    if (!reason.empty())
        return message("page image: %s", reason.c_str());
    page_.compressed_bytes = jbig_.size();
    page_.bands = 1;
    page_.stride = (image.width + 7) / 8;
    page_.pixels = std::move(image.rows);
    std::vector<unsigned char>().swap(jbig_);
    return {};
}

std::string PageAssembler::finish(Page &page)
{
    if (platform_ == Platform::Z && lines_ != page_.height)
        return message("page ends after %u of its %u lines", lines_, page_.height);
    page_.ink = count_ink(page_);
    page = std::move(page_);
    page_ = Page{};
    return {};
}

} // namespace varkon::decode::detail
