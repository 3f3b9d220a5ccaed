// SPDX-License-Identifier: GPL-2.0-or-later
// Page image transfer: the image frames byte by byte, JBIG round trips through
// libjbig's decoder with each platform's parameters, Z banding, M packaging, the
// C image checksum, and the Prnt_SendPage sequences with their failure texts.
#include "image_transfer.h"

#include "bytes.h"
#include "dither.h"
#include "job_commands.h"
#include "command_sequence.h"
#include "frames.h"
#include "hex_bytes.h"
#include "jbigCompress.h"
#include "jbig_decode.h"
#include "test_job.h"
#include "output_sink.h"
#include "page_commands.h"
#include "platform.h"

#include <gtest/gtest.h>

#include <bitset>
#include <cstring>
#include <ctime>
#include <random>
#include <string>
#include <vector>

using namespace varkon::test;

namespace {

// A packed page that looks like text: short dark runs in lines, with blank gaps.
std::vector<unsigned char> text_like_page(uint32_t width, uint32_t height, unsigned seed = 1)
{
    std::vector<unsigned char> page(size_t{width} * height / 8, 0);
    std::mt19937 random(seed);
    for (uint32_t y = 0; y < height; ++y) {
        if (y % 40 >= 28) // leading between text lines
            continue;
        for (uint32_t b = 0; b < width / 8; ++b)
            if (random() % 5 == 0)
                page[size_t{y} * (width / 8) + b] = static_cast<unsigned char>(random());
    }
    return page;
}

std::vector<unsigned char> noise_page(uint32_t width, uint32_t height)
{
    std::vector<unsigned char> page(size_t{width} * height / 8);
    std::mt19937 random(99);
    for (auto &b : page)
        b = static_cast<unsigned char>(random());
    return page;
}

GDI_SEND_PAGE_PARAM page_param(std::vector<unsigned char> &image, uint32_t width, uint32_t height, int platform)
{
    GDI_SEND_PAGE_PARAM p;
    p.compression = 0x20;
    p.whlImgW = static_cast<uint16_t>(width);
    p.whlImgH = static_cast<uint16_t>(height);
    if (platform == PLATFORM_C) {
        p.rasImgW = static_cast<uint16_t>(width);
        p.rasImgH = 768;
        p.cmpImgBytes = 853;
    }
    p.sendImgBuf = image.data();
    return p;
}

std::string compress(GDI_SEND_PAGE_PARAM &p, int platform)
{
    JBIG_BIH bih = varkon::jbig_bih_for(p, platform);
    std::vector<unsigned char> out;
    const int n = OutputJbigkitCompression(&p, &bih, out, platform);
    EXPECT_EQ(n, static_cast<int>(out.size()));
    return std::string(out.begin(), out.end());
}

std::string as_string(const std::vector<unsigned char> &v) { return std::string(v.begin(), v.end()); }

template <size_t N>
std::string str_of(const std::array<unsigned char, N> &a)
{
    return std::string(reinterpret_cast<const char *>(a.data()), N);
}

struct Band {
    uint32_t width, height, posVert, size;
    std::string frame;
    DecodedImage image;
};

// Splits Z page data into its bands: 48-byte frame, then the compressed band.
std::vector<Band> split_bands(const std::string &data)
{
    std::vector<Band> bands;
    size_t at = 0;
    while (at + 48 <= data.size()) {
        Band b;
        b.frame = data.substr(at, 48);
        const auto *f = reinterpret_cast<const unsigned char *>(b.frame.data());
        b.width = varkon::get_le32(f + 7);
        b.height = varkon::get_le32(f + 11);
        b.posVert = varkon::get_le32(f + 35);
        b.size = varkon::get_le32(f + 23);
        b.image = jbig_decode(data.substr(at + 48, b.size));
        EXPECT_EQ(b.image.consumed, b.size) << "band at " << b.posVert;
        at += 48 + b.size;
        bands.push_back(b);
    }
    EXPECT_EQ(at, data.size());
    return bands;
}

TEST(ImageFrames, RasterImageHeader)
{
    std::vector<unsigned char> none;
    GDI_SEND_PAGE_PARAM p = page_param(none, 4960, 7016, PLATFORM_C);
    p.cmpImgBytes = 12345;
    unsigned char frame[18];
    EXPECT_EQ(GetRasterImageCmd(&p, frame), 1);
    EXPECT_EQ(hex(frame, 18), "0B 12 0C 00 20 60 13 68 1B 60 13 00 03 39 30 00 00 E2");
}

TEST(ImageFrames, JbigParameterFrameOfM)
{
    std::vector<unsigned char> none;
    const GDI_SEND_PAGE_PARAM p = page_param(none, 4960, 7016, PLATFORM_M);
    const JBIG_BIH bih = varkon::jbig_bih_for(p, PLATFORM_M);
    unsigned char frame[36];
    EXPECT_EQ(SetJBIGCmdAndParam(frame, &bih, 36, 4, 0x5A5A), 1);
    EXPECT_EQ(hex(frame, 36), "00 00 00 24 00 00 00 04 00 00 00 00 00 00 5A 5A 00 00 01 00 00 00 13 60 00 00 1B 68 00 "
                              "00 01 00 00 00 03 5C");
}

TEST(ImageFrames, ImageChecksumAddsTheExitSequence)
{
    // Compressed bytes that sum to 0 modulo 256 leave only UEL_CMD_C's 670.
    const unsigned char zeroSum[] = {0x80, 0x80, 0x10, 0xF0};
    EXPECT_EQ(varkon::image_checksum(zeroSum, sizeof zeroSum), 0x9Eu);
    EXPECT_EQ(varkon::image_checksum(zeroSum, 0), 0x9Eu);
    const unsigned char one[] = {0x01};
    EXPECT_EQ(varkon::image_checksum(one, 1), 0x9Fu);
}

TEST(JbigRoundTrip, WholePageOnCAndM)
{
    const uint32_t w = 640, h = 1000;
    for (int platform : {PLATFORM_C, PLATFORM_M}) {
        std::vector<unsigned char> image = text_like_page(w, h);
        GDI_SEND_PAGE_PARAM p = page_param(image, w, h, platform);
        const std::string bie = compress(p, platform);
        // The entity carries its 20-byte header with the platform's parameters.
        const auto *bih = reinterpret_cast<const unsigned char *>(bie.data());
        EXPECT_EQ(varkon::get_be32(bih + 4), w);
        EXPECT_EQ(varkon::get_be32(bih + 8), h);
        EXPECT_EQ(varkon::get_be32(bih + 12), platform == PLATFORM_C ? 768u : 256u);
        EXPECT_EQ(hex(bie.substr(16, 4)), platform == PLATFORM_C ? "08 00 00 08" : "00 00 03 5C");

        for (size_t chunk : {std::string::npos, size_t{7}}) {
            const DecodedImage decoded = jbig_decode(bie, chunk);
            ASSERT_EQ(decoded.status, JBG_EOK) << "platform " << platform;
            EXPECT_EQ(decoded.consumed, bie.size());
            EXPECT_EQ(decoded.width, w);
            EXPECT_EQ(decoded.height, h);
            EXPECT_TRUE(decoded.plane == image) << "platform " << platform;
        }
    }
}

TEST(JbigRoundTrip, ZBandsOf256Lines)
{
    const uint32_t w = 320;
    std::vector<unsigned char> image = text_like_page(w, 600);
    GDI_SEND_PAGE_PARAM p = page_param(image, w, 600, PLATFORM_Z);
    const std::vector<Band> bands = split_bands(compress(p, PLATFORM_Z));
    ASSERT_EQ(bands.size(), 3u);
    const uint32_t heights[] = {256, 256, 88};
    for (size_t i = 0; i < 3; ++i) {
        const Band &b = bands[i];
        const auto *f = reinterpret_cast<const unsigned char *>(b.frame.data());
        EXPECT_EQ(hex(b.frame.substr(0, 7)), "0B 30 1A 00 00 01 00");
        EXPECT_EQ(b.width, w);
        EXPECT_EQ(b.height, heights[i]);
        EXPECT_EQ(varkon::get_le32(f + 15), heights[i]);
        EXPECT_EQ(hex(b.frame.substr(19, 4)), "00 00 03 58");
        EXPECT_EQ(varkon::get_le32(f + 27), b.size);
        EXPECT_EQ(varkon::get_le32(f + 31), 0u);
        EXPECT_EQ(b.posVert, 256u * i);
        EXPECT_EQ(varkon::get_le32(f + 39), 3u);
        EXPECT_EQ(varkon::get_le32(f + 43), 0u);
        EXPECT_EQ(CalcChecksum(f, 48) & 0xFF, 0);
        ASSERT_EQ(b.image.status, JBG_EOK);
        EXPECT_EQ(b.image.height, heights[i]);
        const size_t first = size_t{b.posVert} * w / 8;
        EXPECT_TRUE(b.image.plane == std::vector<unsigned char>(image.begin() + first,
                                                                 image.begin() + first + heights[i] * w / 8))
            << "band " << i;
    }

    // Exactly 512 lines: two bands, no empty third one.
    std::vector<unsigned char> exact = text_like_page(w, 512);
    GDI_SEND_PAGE_PARAM q = page_param(exact, w, 512, PLATFORM_Z);
    const std::vector<Band> two = split_bands(compress(q, PLATFORM_Z));
    ASSERT_EQ(two.size(), 2u);
    EXPECT_EQ(two[1].height, 256u);
}

TEST(JbigRoundTrip, NoiseAndTinyPagesOutgrowTheRawSize)
{
    // Noise does not compress, and a tiny page is smaller than the entity's own
    // header: both must come through whole.
    struct Size {
        uint32_t w, h;
    };
    for (const Size s : {Size{1024, 1024}, Size{8, 1}, Size{16, 2}}) {
        for (int platform : {PLATFORM_C, PLATFORM_Z, PLATFORM_M}) {
            std::vector<unsigned char> image = noise_page(s.w, s.h);
            GDI_SEND_PAGE_PARAM p = page_param(image, s.w, s.h, platform);
            const std::string data = compress(p, platform);
            std::vector<unsigned char> plane;
            if (platform == PLATFORM_Z) {
                for (const Band &b : split_bands(data))
                    plane.insert(plane.end(), b.image.plane.begin(), b.image.plane.end());
            } else {
                const DecodedImage decoded = jbig_decode(data);
                ASSERT_EQ(decoded.status, JBG_EOK) << s.w << "x" << s.h << " platform " << platform;
                plane = decoded.plane;
            }
            EXPECT_TRUE(plane == image) << s.w << "x" << s.h << " platform " << platform;
        }
    }
}

TEST(JbigRoundTrip, WidthNotAMultipleOfEightStaysInsideThePage)
{
    // The halftoner packs 12 x 4 pixels into 6 bytes; the encoder wants whole-byte
    // rows (8 bytes). It must get zero padding, not bytes from beyond the page.
    for (int platform : {PLATFORM_C, PLATFORM_Z, PLATFORM_M}) {
        std::vector<unsigned char> image(6, 0xFF);
        GDI_SEND_PAGE_PARAM p = page_param(image, 12, 4, platform);
        std::string data = compress(p, platform);
        if (platform == PLATFORM_Z)
            data = data.substr(48);
        const DecodedImage decoded = jbig_decode(data);
        ASSERT_EQ(decoded.status, JBG_EOK) << "platform " << platform;
        EXPECT_EQ(decoded.width, 12u);
        EXPECT_EQ(hex(as_string(decoded.plane)), "FF F0 FF F0 FF F0 00 00") << "platform " << platform;
    }
}

TEST(JbigRoundTrip, EncoderFailureFailsThePageWithAText)
{
    std::vector<unsigned char> image(8, 0xFF);
    JBIG_BIH bih; // no width, no height: nothing the encoder can encode
    JbigCompressState state;
    EXPECT_EQ(JBIGCompress(&bih, image.data(), &state), 0);
    EXPECT_EQ(state.gJbigCompressDataLen, 0u);

    GDI_SEND_PAGE_PARAM p = page_param(image, 8, 8, PLATFORM_Z);
    p.sendImgBuf = nullptr;
    const CapturedRun run = run_captured([&] { return Prnt_SendPage(&p, PLATFORM_Z); });
    EXPECT_EQ(run.result, 0);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.error, "Prnt_SendPage() :: compress page Fail .  \n"
                         "OutputJbigkitCompression() :: no page image Fail .  \n");

    p = page_param(image, 8, 0, PLATFORM_C);
    EXPECT_EQ(run_captured([&] { return Prnt_SendPage(&p, PLATFORM_C); }).result, 0);
    p = page_param(image, 8, 8, PLATFORM_C);
    const CapturedRun other = run_captured([&] { return Prnt_SendPage(&p, 4); });
    EXPECT_EQ(other.result, 0);
    EXPECT_EQ(other.out, "");
}

TEST(JbigRoundTrip, ChecksumOfTheCompressedPage)
{
    std::vector<unsigned char> image = text_like_page(320, 300);
    GDI_SEND_PAGE_PARAM p = page_param(image, 320, 300, PLATFORM_C);
    const std::string bie = compress(p, PLATFORM_C);
    EXPECT_EQ(job().gImageChecksum,
              varkon::image_checksum(reinterpret_cast<const unsigned char *>(bie.data()), bie.size()));

    // On Z the value describes the last band.
    GDI_SEND_PAGE_PARAM z = page_param(image, 320, 300, PLATFORM_Z);
    const std::vector<Band> bands = split_bands(compress(z, PLATFORM_Z));
    ASSERT_EQ(bands.size(), 2u);
    const std::string data = compress(z, PLATFORM_Z);
    const std::string last = data.substr(data.size() - bands[1].size);
    EXPECT_EQ(job().gImageChecksum,
              varkon::image_checksum(reinterpret_cast<const unsigned char *>(last.data()), last.size()));
}

class SendPageSequence : public ::testing::Test {
protected:
    void SetUp() override
    {
        job().g_page = 1;
    }
    static SequenceItem item(const std::string &data, const std::string &failure) { return {data, failure, nullptr}; }
};

TEST_F(SendPageSequence, PlatformC)
{
    std::vector<unsigned char> image = text_like_page(320, 200);
    GDI_SEND_PAGE_PARAM p = page_param(image, 320, 200, PLATFORM_C);
    const std::string bie = compress(p, PLATFORM_C);
    p.cmpImgBytes = static_cast<int32_t>(bie.size());
    unsigned char header[18];
    GetRasterImageCmd(&p, header);
    expect_sequence({item(std::string(reinterpret_cast<char *>(header), 18),
                          "Prnt_SendPage() :: send cmdRasterImage Fail .  \n"),
                     item(bie, "Prnt_SendPage() :: Send compressed data and cmd fail.  \n")},
                    [&] { return Prnt_SendPage(&p, PLATFORM_C); });
    EXPECT_EQ(p.cmpImgBytes, static_cast<int32_t>(bie.size()));
}

TEST_F(SendPageSequence, PlatformZ)
{
    std::vector<unsigned char> image = text_like_page(320, 300);
    GDI_SEND_PAGE_PARAM p = page_param(image, 320, 300, PLATFORM_Z);
    const std::string bands = compress(p, PLATFORM_Z);
    p.cmpImgBytes = 0;
    unsigned char header[18];
    GetRasterImageCmd(&p, header);
    job().gImageCoverage = 4095999;
    expect_sequence({item(bytes("0B 07 19 3F 3F 00 57"), "Prnt_EndPage() :: send cmdCoverage Fail 0 ==  \n"),
                     plain(bytes("00 00")),
                     item(std::string(reinterpret_cast<char *>(header), 18),
                          "Prnt_SendPage() :: send cmdRasterImage Fail .  \n"),
                     item(bands, "Prnt_SendPage() :: Send compressed data and cmd fail.  \n")},
                    [&] {
                        p.cmpImgBytes = 777;
                        return Prnt_SendPage(&p, PLATFORM_Z);
                    });
    // The Z raster header always announces 0 compressed bytes.
    EXPECT_EQ(hex(header + 13, 4), "00 00 00 00");
    EXPECT_EQ(p.cmpImgBytes, 0);
}

TEST_F(SendPageSequence, PlatformM)
{
    std::vector<unsigned char> image = noise_page(1024, 1100); // about 140 KiB compressed: three packages
    GDI_SEND_PAGE_PARAM p = page_param(image, 1024, 1100, PLATFORM_M);
    const std::string bie = compress(p, PLATFORM_M);
    ASSERT_GT(bie.size(), 2 * varkon::kPackageSize);
    ASSERT_LT(bie.size(), 3 * varkon::kPackageSize);

    unsigned char param[36];
    const JBIG_BIH bih = varkon::jbig_bih_for(p, PLATFORM_M);
    SetJBIGCmdAndParam(param, &bih, 36, 4, 0x5A5A);
    Sequence s = {item(std::string(reinterpret_cast<char *>(param), 36),
                       "Prnt_SendPage() :: send JBIG_PARAM_CMD Fail 0 ==  \n")};
    for (size_t at = 0; at < bie.size(); at += varkon::kPackageSize) {
        const size_t n = std::min(varkon::kPackageSize, bie.size() - at);
        unsigned char h[16];
        SetCmdType(h, static_cast<uint32_t>(16 + n), 5, 0, 0, 0x5A5A);
        s.push_back(item(std::string(reinterpret_cast<char *>(h), 16), "Prnt_SendPage() :: send JBIG_DATA_CMD Fail 0 ==  \n"));
        s.push_back(item(bie.substr(at, n), "Prnt_SendPage() :: Send compressed data and cmd fail.  \n"));
    }
    s.push_back(item(bytes("00 00 00 10 00 00 00 06 00 00 00 00 00 00 5A 5A"),
                     "Prnt_SendPage() :: send JBIG_END_CMD Fail 0 ==  \n"));
    EXPECT_EQ(hex(s[1].data), "00 01 00 10 00 00 00 05 00 00 00 00 00 00 5A 5A");
    expect_sequence(s, [&] { return Prnt_SendPage(&p, PLATFORM_M); });
    EXPECT_EQ(p.cmpImgBytes, static_cast<int32_t>(bie.size()));
}

TEST_F(SendPageSequence, MPackagesAtTheBoundary)
{
    for (size_t size : {size_t{131072}, size_t{131073}}) {
        std::vector<unsigned char> data(size);
        for (size_t i = 0; i < size; ++i)
            data[i] = static_cast<unsigned char>(i * 31);
        const CapturedRun run = run_captured([&] { return varkon::send_packages_m(data.data(), data.size()); });
        EXPECT_EQ(run.result, 1);
        const std::string full = bytes("00 01 00 10 00 00 00 05 00 00 00 00 00 00 5A 5A");
        std::string expected = full + as_string(data).substr(0, 65536) + full + as_string(data).substr(65536, 65536);
        if (size == 131073)
            expected += bytes("00 00 00 11 00 00 00 05 00 00 00 00 00 00 5A 5A") + as_string(data).substr(131072);
        EXPECT_EQ(run.out.size(), expected.size());
        EXPECT_TRUE(run.out == expected) << "compressed size " << size;
    }
}

TEST_F(SendPageSequence, CImageChecksumCoversTheBytesBeforeItsFrame)
{
    // What the printer sums: everything between the raster header and the checksum frame.
    std::vector<unsigned char> image = text_like_page(320, 200, 5);
    GDI_SEND_PAGE_PARAM p = page_param(image, 320, 200, PLATFORM_C);
    GDI_END_PAGE_PARAM end;
    const CapturedRun run = run_captured([&] { return Prnt_SendPage(&p, PLATFORM_C) && Prnt_EndPage(&end, PLATFORM_C); });
    ASSERT_EQ(run.result, 1);
    const size_t checksumFrame = run.out.find(bytes("0B 06 1A"), 18 + static_cast<size_t>(p.cmpImgBytes));
    ASSERT_NE(checksumFrame, std::string::npos);
    unsigned sum = 0;
    for (size_t i = 18; i < checksumFrame; ++i)
        sum += static_cast<unsigned char>(run.out[i]);
    EXPECT_EQ(static_cast<unsigned char>(run.out[checksumFrame + 3]), sum % 256);
}

// A whole one-page job, as the job loop drives the command layer, against the
// order of a one-page job on the wire. The per-operation sequences are checked
// item by item above; here the state that crosses operations matters too: the
// coverage that the dither counts after the page start, the checksum of the
// compressed page at the page end.
class OnePageJob : public SendPageSequence {
protected:
    static constexpr uint32_t kW = 320, kH = 300;

    void SetUp() override
    {
        SendPageSequence::SetUp();
        std::strcpy(job().gPPDFile, "Varkon Oskel 301 Series");
        gray.assign(size_t{kW} * kH, 255);
        for (uint32_t y = 40; y < 260; ++y)
            for (uint32_t x = 30; x < 290; ++x)
                gray[size_t{y} * kW + x] = static_cast<unsigned char>((x * 7 + y * 3) % 256);
        startDoc.jobID = 300;
        startDoc.saveMode = 0x10;
        startDoc.densityLevel = 2;
        startPage.paperSize = 9;
        startPage.copies = 1;
        startPage.pageNum = 1;
        startPage.userPrntAreaW = kW;
        startPage.userPrntAreaH = kH;
        endPage.page = 1;
        endPage.resolutionE = 600;
        endPage.densityE = 2;
        endPage.paperWidthE = 210;
        endDoc.page = 1;
    }

    int run_job(int platform)
    {
        std::vector<unsigned char> mono(gray.size() / 8, 0);
        int ok = Prnt_StartDoc(&startDoc, platform);
        ok &= Prnt_StartPage(&startPage, platform);
        ok &= HalftoneDither(gray.data(), kW, kH, mono.data(), kW, 0, 0, platform);
        image = mono;
        GDI_SEND_PAGE_PARAM send = page_param(mono, kW, kH, platform);
        ok &= Prnt_SendPage(&send, platform);
        ok &= Prnt_EndPage(&endPage, platform);
        ok &= Prnt_EndDoc(&endDoc, platform);
        return ok;
    }

    uint32_t inked() const
    {
        uint32_t n = 0;
        for (unsigned char b : image)
            n += static_cast<uint32_t>(std::bitset<8>(b).count());
        return n;
    }

    std::string compressed(int platform)
    {
        GDI_SEND_PAGE_PARAM p = page_param(image, kW, kH, platform);
        return compress(p, platform);
    }

    template <class Build>
    static std::string built(size_t len, Build build)
    {
        std::string frame(len, '\0');
        build(reinterpret_cast<unsigned char *>(frame.data()));
        return frame;
    }

    // Accepts the clock-dependent bytes when they show the time now or a little earlier.
    template <class Format>
    static std::function<bool(const std::string &)> clock_item(Format format)
    {
        return [format](const std::string &actual) {
            for (time_t at : {time(nullptr), time(nullptr) - 120}) {
                struct tm t {};
                localtime_r(&at, &t);
                if (actual == format(t))
                    return true;
            }
            return false;
        };
    }

    std::vector<unsigned char> gray, image;
    GDI_START_DOC_PARAM startDoc;
    GDI_START_PAGE_PARAM startPage;
    GDI_END_PAGE_PARAM endPage;
    GDI_END_DOC_PARAM endDoc;
};

TEST_F(OnePageJob, PlatformZ)
{
    const CapturedRun run = run_captured([&] { return run_job(PLATFORM_Z); });
    ASSERT_EQ(run.result, 1) << run.error;
    const std::string zz = bytes("00 00"), bie = compressed(PLATFORM_Z);
    char host[varkon::kHostNameSize];
    varkon::read_host_name(host);
    GDI_SEND_PAGE_PARAM send = page_param(image, kW, kH, PLATFORM_Z);
    const Sequence job = {
        // Job start
        plain(std::string("\x1B%-12345X@PJL\r\n") + "@PJL JOBTIME="),
        {"00:00:00:00:0000\r\n", "", clock_item([](const struct tm &t) {
             char line[19];
             GetSendTimePJL(line, t);
             return std::string(line);
         })},
        plain(std::string("@PJL JOBOWNER=") + host + "\r\n@PJL ENTER LANGUAGE=PL\r\n" + zz),
        plain(built(5, [&](unsigned char *f) { GetFineModeCmd(&startDoc, f); }) + zz +
              built(9, [&](unsigned char *f) { GetJobSpecCmd_Z(&startDoc, f); }) + zz +
              built(5, [&](unsigned char *f) { GetDensityCmd(&startDoc, f); }) + zz),
        // Page start
        plain(zz + built(18, [&](unsigned char *f) { GetPageSpecCmd(&startPage, f, PLATFORM_Z); }) + zz +
              bytes("0B 0C 13 00 00 00 00 00 00 00 00 D6") + zz),
        // Page data: the coverage counted by the dither after the page start
        plain(built(7, [&](unsigned char *f) { GetCoverageCmd_Z(f, inked()); }) + zz +
              built(18, [&](unsigned char *f) { GetRasterImageCmd(&send, f); }) + bie),
        // Page end, job end
        plain(zz + bytes("0B 04 18 D9") + bytes("0B 04 17 DA") + str_of(endOfJobCmd)),
    };
    EXPECT_GT(inked(), 1000u);
    EXPECT_EQ(hex(run.out), hex(expected_bytes(job, run.out)));
}

TEST_F(OnePageJob, PlatformC)
{
    const CapturedRun run = run_captured([&] { return run_job(PLATFORM_C); });
    ASSERT_EQ(run.result, 1) << run.error;
    const std::string zz = bytes("00 00"), bie = compressed(PLATFORM_C);
    GDI_SEND_PAGE_PARAM send = page_param(image, kW, kH, PLATFORM_C);
    send.cmpImgBytes = static_cast<int32_t>(bie.size());
    const std::string uelC = bytes("1B FF 2D 31 32 33 34 35 58");
    // The printer's checksum: the compressed page, UEL_CMD_C and the zero bytes after it.
    unsigned sum = 0;
    for (char c : bie + uelC + zz)
        sum += static_cast<unsigned char>(c);
    GDI_END_PAGE_PARAM coverage = endPage;
    const Sequence job = {
        plain(uelC + bytes("0B 04 16 DB") + str_of(endOfJobCmd) + "versions=3.1.2.1" + zz +
              "\x1B%-12345X@PJL\r\n@PJL ENTER LANGUAGE=PL\r\n" + zz +
              built(6, [&](unsigned char *f) { GetJobSpecCmd_C(&startDoc, f); }) + zz + bytes("0B 05 19 00 D7") +
              zz + built(5, [&](unsigned char *f) { GetDensityCmd(&startDoc, f); })),
        {std::string(8, '\0'), "", clock_item([](const struct tm &t) {
             std::string frame(8, '\0');
             GetSysTimeCmd(reinterpret_cast<unsigned char *>(frame.data()), t);
             return frame;
         })},
        plain(zz + built(18, [&](unsigned char *f) { GetPageSpecCmd(&startPage, f, PLATFORM_C); }) + zz +
              bytes("0B 0C 13 00 00 00 00 00 00 00 00 D6") + zz + bytes("0B 04 32 BF") + zz),
        plain(built(18, [&](unsigned char *f) { GetRasterImageCmd(&send, f); }) + bie),
        plain(uelC + zz + built(6, [&](unsigned char *f) { GetImageDataChenksumCmd(f, sum % 256); }) + zz +
              built(6, [&](unsigned char *f) { GetCoverageCmd_C(&coverage, f, inked()); }) + zz +
              bytes("0B 04 18 D9")),
        plain(zz + bytes("0B 05 31 80 3F") + zz + bytes("0B 04 17 DA") + str_of(endOfJobCmd)),
    };
    EXPECT_EQ(hex(run.out), hex(expected_bytes(job, run.out)));
    EXPECT_EQ(endPage.dotCnt, coverage.dotCnt);
}

TEST_F(OnePageJob, PlatformM)
{
    const CapturedRun run = run_captured([&] { return run_job(PLATFORM_M); });
    ASSERT_EQ(run.result, 1) << run.error;
    const std::string bie = compressed(PLATFORM_M);
    ASSERT_LT(bie.size(), varkon::kPackageSize);
    std::string startPageCmd = bytes("00 00 00 B8 00 00 00 02 00 00 00 0E 00 A8 5A 5A");
    varkon::PageParamM params[varkon::kMaxPageParamsM];
    const size_t n = varkon::start_page_params_m(startPage, params);
    for (size_t i = 0; i < n; ++i)
        startPageCmd += built(12, [&](unsigned char *f) { SetCmdParam(f, params[i].paramCmd, 1, params[i].value); });
    GDI_SEND_PAGE_PARAM send = page_param(image, kW, kH, PLATFORM_M);
    const JBIG_BIH bih = varkon::jbig_bih_for(send, PLATFORM_M);
    const std::string expected =
        str_of(UEL_CMD) + "JZJZ" + built(88, [](unsigned char *f) { GetTonerParamCmdForPlatformM(f, 88, 0x11, 0, 0, 0x5A5A); }) +
        bytes("00 00 00 34 00 00 00 00 00 00 00 03 00 24 5A 5A") + bytes("00 00 00 0C 00 00 01 00 00 00 00 00") +
        bytes("00 00 00 0C 00 01 01 00 00 00 00 00") + bytes("00 00 00 0C 00 02 01 00 00 00 00 01") + startPageCmd +
        built(36, [&](unsigned char *f) { SetJBIGCmdAndParam(f, &bih, 36, 4, 0x5A5A); }) +
        built(16, [&](unsigned char *f) { SetCmdType(f, static_cast<uint32_t>(16 + bie.size()), 5, 0, 0, 0x5A5A); }) +
        bie + bytes("00 00 00 10 00 00 00 06 00 00 00 00 00 00 5A 5A") +
        bytes("00 00 00 10 00 00 00 03 00 00 00 00 00 00 5A 5A") +
        bytes("00 00 00 10 00 00 00 01 00 00 00 00 00 00 5A 5A") + str_of(UEL_CMD);
    EXPECT_EQ(hex(run.out), hex(expected));
}

} // namespace
