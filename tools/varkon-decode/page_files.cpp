// SPDX-License-Identifier: GPL-2.0-or-later
// Page files. Black is ink: PBM keeps the printer's bits as they are (1 = black);
// PGM and PNG store lightness, so levels and bits are turned around.
#include "page_files.h"
#include "stream_items.h"

#include <png.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace varkon::decode {
namespace {

struct FileCloser {
    void operator()(FILE *file) const { std::fclose(file); }
};
using File = std::unique_ptr<FILE, FileCloser>;

std::string open_error(const std::string &path)
{
    return detail::message("cannot write %s: %s", path.c_str(), std::strerror(errno));
}

bool has_pixels(const Page &page) { return page.pixels.size() == page.stride * size_t(page.height); }

std::string finish(FILE *file, const std::string &path, File &owner)
{
    bool ok = std::ferror(file) == 0;
    ok = std::fclose(owner.release()) == 0 && ok;
    return ok ? std::string() : open_error(path);
}

// Level 0 (no toner) is white, level 3 black.
void pgm_row(const Page &page, uint32_t y, std::vector<unsigned char> &row)
{
    for (uint32_t x = 0; x < page.width; ++x)
        row[x] = static_cast<unsigned char>(255 - 85 * page.level(x, y));
}

// Kept free of C++ objects with destructors: libpng reports errors by longjmp.
bool write_png_rows(FILE *file, const Page &page, unsigned char *row)
{
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (!png)
        return false;
    png_infop info = png_create_info_struct(png);
    if (!info || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_init_io(png, file);
    png_set_IHDR(png, info, page.width, page.height, page.bits_per_pixel, PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    // Gray samples run from black (0) to white; the printer's bits and levels count toner.
    for (uint32_t y = 0; y < page.height; ++y) {
        const unsigned char *src = page.pixels.data() + size_t(y) * page.stride;
        for (size_t i = 0; i < page.stride; ++i)
            row[i] = static_cast<unsigned char>(~src[i]);
        png_write_row(png, row);
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return true;
}

} // namespace

std::string page_file_name(size_t index, const char *extension)
{
    return detail::message("page-%03zu.%s", index, extension);
}

const char *pnm_extension(const Page &page) { return page.bits_per_pixel == 2 ? "pgm" : "pbm"; }

std::string write_pnm(const Page &page, const std::string &path)
{
    if (!has_pixels(page))
        return "page has no pixels";
    File owner(std::fopen(path.c_str(), "wb"));
    FILE *file = owner.get();
    if (!file)
        return open_error(path);
    if (page.bits_per_pixel == 1) {
        std::fprintf(file, "P4\n%u %u\n", page.width, page.height);
        std::fwrite(page.pixels.data(), 1, page.pixels.size(), file);
    } else {
        std::fprintf(file, "P5\n%u %u\n255\n", page.width, page.height);
        std::vector<unsigned char> row(page.width);
        for (uint32_t y = 0; y < page.height; ++y) {
            pgm_row(page, y, row);
            std::fwrite(row.data(), 1, row.size(), file);
        }
    }
    return finish(file, path, owner);
}

std::string write_png(const Page &page, const std::string &path)
{
    if (!has_pixels(page))
        return "page has no pixels";
    if (page.width == 0 || page.height == 0)
        return "PNG cannot hold a page without pixels";
    File owner(std::fopen(path.c_str(), "wb"));
    FILE *file = owner.get();
    if (!file)
        return open_error(path);
    std::vector<unsigned char> row(page.stride);
    if (!write_png_rows(file, page, row.data())) {
        owner.reset();
        std::remove(path.c_str());
        return detail::message("cannot write %s: PNG encoder failed", path.c_str());
    }
    return finish(file, path, owner);
}

} // namespace varkon::decode
