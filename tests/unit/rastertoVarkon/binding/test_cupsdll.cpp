// SPDX-License-Identifier: GPL-2.0-or-later
// The CUPS function table: the linked fallback (the common case on Debian,
// which ships no /usr/lib/libcups.so), the loaded road, and re-initialisation.
#include "cupsdll.h"

#include "raster_writer.h"
#include "run_process.h"
#include "test_ppd.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

extern "C" {
#include <jbig.h>
}

namespace {

using namespace varkon::test;

// The file a linked function lives in, found through the dynamic loader.
std::string library_of(const void *function)
{
    Dl_info info{};
    if (dladdr(function, &info) == 0 || info.dli_fname == nullptr)
        return {};
    return info.dli_fname;
}

// Option parsing, the PPD texts and temporary files, all through the table.
void expect_cups_table_works()
{
    ASSERT_NE(pfcupsParseOptions, nullptr);
    cups_option_t *options = nullptr;
    const int count = pfcupsParseOptions("Duplex=DuplexTumble noTonerMode Collate", 0, &options);
    EXPECT_EQ(count, 3);
    EXPECT_STREQ(pfcupsGetOption("Duplex", count, options), "DuplexTumble");
    EXPECT_STREQ(pfcupsGetOption("TonerMode", count, options), "false");
    cupsFreeOptions(count, options);

    TempDir dir;
    TestPpd spec;
    spec.platform = "PLATFORM_M";
    ppd_file_t *ppd = pfppdOpenFile(write_test_ppd(dir.file("t.ppd"), spec).c_str());
    ASSERT_NE(ppd, nullptr);
    char text[1024] = {};
    EXPECT_NE(pfppdLocalizeIPPReason(ppd, "PlatForm", nullptr, text, sizeof text), nullptr);
    EXPECT_STREQ(text, "PLATFORM_M");
    pfppdClose(ppd);

    char name[255] = {};
    const int fd = pfcupsTempFd(name, sizeof name);
    ASSERT_GE(fd, 0);
    EXPECT_NE(name[0], '\0');
    close(fd);
    unlink(name);
}

// A two-page raster read back through the table.
void expect_raster_table_works()
{
    RasterPage page(gray_header(36, 18, 72));
    page.fill = fill_rect(0, 0, 36, 1, 7);
    const std::string stream = make_raster({page, page});
    const int fd = memfd_create("raster", 0);
    ASSERT_EQ(write(fd, stream.data(), stream.size()), static_cast<ssize_t>(stream.size()));
    lseek(fd, 0, SEEK_SET);

    cups_raster_t *ras = pfcupsRasterOpen(fd, CUPS_RASTER_READ);
    ASSERT_NE(ras, nullptr);
    cups_page_header2_t header;
    int pages = 0;
    while (pfcupsRasterReadHeader2(ras, &header) != 0) {
        ++pages;
        EXPECT_EQ(header.cupsWidth, 36u);
        std::vector<unsigned char> line(header.cupsBytesPerLine);
        ASSERT_EQ(pfcupsRasterReadPixels(ras, line.data(), 36), 36u);
        EXPECT_EQ(line[0], 7);
        for (unsigned y = 1; y < header.cupsHeight; ++y)
            ASSERT_EQ(pfcupsRasterReadPixels(ras, line.data(), 36), 36u);
        EXPECT_EQ(line[0], 255);
    }
    EXPECT_EQ(pages, 2);
    pfcupsRasterClose(ras);
    close(fd);
}

class CupsBinding : public ::testing::Test {
protected:
    void TearDown() override { varkon::release_cups_libraries(); }
};

TEST_F(CupsBinding, WithoutTheUnversionedLibrariesTheLinkedFunctionsAreUsed)
{
    if (access("/usr/lib/libcups.so", F_OK) == 0 || access("/usr/lib/libcupsimage.so", F_OK) == 0)
        GTEST_SKIP() << "this system has the unversioned libraries at the fixed paths";
    EXPECT_EQ(InitCUPSIMAGEDLL(), 0);
    EXPECT_EQ(InitCUPSDLL(), 0);
    EXPECT_EQ(m_hCUPS, nullptr);
    EXPECT_EQ(m_hCUPSImage, nullptr);
    EXPECT_EQ(pfppdOpenFile, &ppdOpenFile);
    EXPECT_EQ(pfcupsRasterReadHeader2, &cupsRasterReadHeader2);
    expect_cups_table_works();
    expect_raster_table_works();
}

TEST_F(CupsBinding, LoadedLibrariesProvideWorkingFunctions)
{
    const std::string cups = library_of(reinterpret_cast<const void *>(&cupsParseOptions));
    const std::string image = library_of(reinterpret_cast<const void *>(&cupsRasterReadHeader2));
    ASSERT_FALSE(cups.empty());
    ASSERT_FALSE(image.empty());
    EXPECT_EQ(varkon::bind_cupsimage_library(image.c_str()), 1);
    EXPECT_EQ(varkon::bind_cups_library(cups.c_str()), 1);
    EXPECT_NE(m_hCUPS, nullptr);
    EXPECT_NE(m_hCUPSImage, nullptr);
    expect_cups_table_works();
    expect_raster_table_works();
}

TEST_F(CupsBinding, InitialisingTwiceReleasesTheFirstHandleAndStillWorks)
{
    // A library this program does not link: it stays in memory only while a handle is open.
    const std::string libdir = library_of(reinterpret_cast<const void *>(&jbg_enc_init));
    const std::string other = libdir.substr(0, libdir.rfind('/')) + "/libjbig2dec.so.0";
    if (access(other.c_str(), F_OK) != 0)
        GTEST_SKIP() << other << " is not installed";
    ASSERT_EQ(varkon::bind_cups_library(other.c_str()), 1);
    ASSERT_EQ(varkon::bind_cups_library(other.c_str()), 1);
    varkon::release_cups_libraries();
    EXPECT_EQ(dlopen(other.c_str(), RTLD_LAZY | RTLD_NOLOAD), nullptr) << "a handle of the first load leaked";

    const std::string cups = library_of(reinterpret_cast<const void *>(&cupsParseOptions));
    ASSERT_EQ(varkon::bind_cups_library(cups.c_str()), 1);
    ASSERT_EQ(varkon::bind_cups_library(cups.c_str()), 1);
    expect_cups_table_works();

    EXPECT_EQ(InitCUPSDLL(), access("/usr/lib/libcups.so", F_OK) == 0 ? 1 : 0);
    EXPECT_EQ(InitCUPSDLL(), access("/usr/lib/libcups.so", F_OK) == 0 ? 1 : 0);
    expect_cups_table_works();
}

TEST_F(CupsBinding, NamesMissingFromALoadedLibraryFallBackInsteadOfStayingEmpty)
{
    // libjbig loads fine but has none of the CUPS names.
    const std::string jbig = library_of(reinterpret_cast<const void *>(&jbg_enc_init));
    ASSERT_FALSE(jbig.empty());
    EXPECT_EQ(varkon::bind_cups_library(jbig.c_str()), 1);
    EXPECT_EQ(varkon::bind_cupsimage_library(jbig.c_str()), 1);
    EXPECT_EQ(pfcupsTempFd, &cupsTempFd);
    EXPECT_EQ(pfcupsRasterOpen, &cupsRasterOpen);
    expect_cups_table_works();
    expect_raster_table_works();
}

TEST_F(CupsBinding, ReleasingClearsBothHandlesAndKeepsTheTableUsable)
{
    const std::string cups = library_of(reinterpret_cast<const void *>(&cupsParseOptions));
    const std::string image = library_of(reinterpret_cast<const void *>(&cupsRasterReadHeader2));
    varkon::bind_cups_library(cups.c_str());
    varkon::bind_cupsimage_library(image.c_str());
    varkon::release_cups_libraries();
    EXPECT_EQ(m_hCUPS, nullptr);
    EXPECT_EQ(m_hCUPSImage, nullptr);
    expect_cups_table_works();
    expect_raster_table_works();
}

} // namespace
