// SPDX-License-Identifier: GPL-2.0-or-later
// Page encoder: the same bytes, checksum and encoder parameters as the
// single-threaded OutputJbigkitCompression at every thread count and in every order
// the lines may become final; the C and M encoder only ever reads stripes it was
// given; the stripe counter; the helper threads' signal mask.
#include "page_encoder.h"

#include "dither.h"
#include "image_transfer.h"
#include "test_job.h"
#include "platform.h"
#include "prnt.h"

#include <gtest/gtest.h>

#include <pthread.h>
#include <signal.h>
#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <numeric>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

using varkon::test::job;

// A dithered page: dark strokes on white with a gray photo block, so that the
// encoder meets typical lines, busy lines and adaptive-template moves.
std::vector<unsigned char> dithered_page(uint32_t width, uint32_t height, unsigned seed)
{
    std::mt19937 random(seed);
    std::vector<unsigned char> gray(size_t{width} * height, 255);
    for (uint32_t y = height / 3; y < height / 2; ++y)
        for (uint32_t x = width / 4; x < width * 3 / 4; ++x)
            gray[size_t{y} * width + x] = static_cast<unsigned char>(96 + random() % 64);
    for (int stroke = 0; stroke < 400; ++stroke) {
        const uint32_t x0 = random() % width, y0 = random() % height, w = 2 + random() % 30, h = 2 + random() % 12;
        for (uint32_t y = y0; y < std::min(height, y0 + h); ++y)
            for (uint32_t x = x0; x < std::min(width, x0 + w); ++x)
                gray[size_t{y} * width + x] = 0;
    }
    std::vector<unsigned char> mono((size_t{width} * height + 7) / 8, 0);
    HalftoneDither(gray.data(), width, height, mono.data(), width, 0, 0, PLATFORM_Z);
    return mono;
}

GDI_SEND_PAGE_PARAM page_param(uint32_t width, uint32_t height, int platform, unsigned char *image,
                               uint32_t stripe = 768)
{
    GDI_SEND_PAGE_PARAM p;
    p.compression = 0x20;
    p.whlImgW = static_cast<uint16_t>(width);
    p.whlImgH = static_cast<uint16_t>(height);
    p.rasImgW = platform == PLATFORM_C ? static_cast<uint16_t>(width) : 0;
    p.rasImgH = platform == PLATFORM_C ? stripe : 0;
    p.sendImgBuf = image;
    return p;
}

struct Encoded {
    int count = 0;
    std::vector<unsigned char> bytes;
    uint32_t checksum = 0;
    JBIG_BIH bih;
};

Encoded single_threaded(GDI_SEND_PAGE_PARAM param, int platform)
{
    Encoded e;
    job().gImageChecksum = 0x1234;
    e.bih = varkon::jbig_bih_for(param, platform);
    e.count = OutputJbigkitCompression(&param, &e.bih, e.bytes, platform);
    e.checksum = job().gImageChecksum;
    return e;
}

enum class Order { Forward, Backward, Shuffled };

std::vector<uint32_t> line_order(uint32_t height, Order order, unsigned seed)
{
    std::vector<uint32_t> lines(height);
    std::iota(lines.begin(), lines.end(), 0u);
    if (order == Order::Backward)
        std::reverse(lines.begin(), lines.end());
    if (order == Order::Shuffled)
        std::shuffle(lines.begin(), lines.end(), std::mt19937(seed));
    return lines;
}

Encoded with_encoder(varkon::PageEncoder &encoder, GDI_SEND_PAGE_PARAM param, int platform,
                     const std::vector<uint32_t> &lines)
{
    Encoded e;
    job().gImageChecksum = 0x1234;
    encoder.begin(param, platform);
    for (uint32_t line : lines)
        encoder.line_done(line);
    e.count = encoder.finish(e.bih, e.bytes);
    e.checksum = job().gImageChecksum;
    return e;
}

void expect_same(const Encoded &got, const Encoded &want, const std::string &what)
{
    ASSERT_EQ(got.count, want.count) << what;
    ASSERT_TRUE(got.bytes == want.bytes) << what << ": " << got.bytes.size() << " bytes against " << want.bytes.size();
    EXPECT_EQ(got.checksum, want.checksum) << what;
    EXPECT_EQ(got.bih.ParamImgHeight, want.bih.ParamImgHeight) << what;
    EXPECT_EQ(got.bih.ParamL0, want.bih.ParamL0) << what;
}

TEST(PageEncoder, SameBytesAsTheSingleThreadedEncoderAtEveryThreadCount)
{
    struct Page {
        uint32_t width, height, stripe;
    };
    // Heights that end in a partial band or stripe, a page of exactly two bands,
    // a page lower than one band, C stripes of 100 lines, a width that is not a
    // whole number of bytes (the encoder then reads padded copies).
    const Page pages[] = {{640, 1000, 768}, {512, 512, 768}, {320, 90, 768}, {640, 700, 100}, {636, 600, 768}};
    for (unsigned threads : {1u, 2u, 3u, 8u}) {
        // One encoder for all pages, as the job loop keeps it: buffers are reused.
        varkon::EncoderPool pool(threads);
        varkon::PageEncoder encoder(pool);
        unsigned seed = 1;
        for (const Page &page : pages) {
            std::vector<unsigned char> image = dithered_page(page.width, page.height, seed++);
            for (int platform : {PLATFORM_C, PLATFORM_Z, PLATFORM_M}) {
                const GDI_SEND_PAGE_PARAM param = page_param(page.width, page.height, platform, image.data(), page.stripe);
                const Encoded want = single_threaded(param, platform);
                ASSERT_GT(want.count, 0);
                for (Order order : {Order::Forward, Order::Backward, Order::Shuffled}) {
                    const Encoded got =
                        with_encoder(encoder, param, platform, line_order(page.height, order, seed));
                    expect_same(got, want,
                                "threads " + std::to_string(threads) + ", platform " + std::to_string(platform) +
                                    ", " + std::to_string(page.width) + " x " + std::to_string(page.height) +
                                    ", order " + std::to_string(static_cast<int>(order)));
                }
            }
        }
    }
}

// JBIGCompress with lines that exist only once the encoder has asked for their
// stripe: every other byte of the page holds noise until then. If the encoder
// read one line ahead of the stripe it has given out, its bytes would change.
std::vector<unsigned char> encode_lazily(const std::vector<unsigned char> &page, const JBIG_BIH &bih,
                                         uint32_t rowBytes, uint32_t *stripesSeen)
{
    const uint32_t height = bih.ParamImgHeight, stripe = bih.ParamL0;
    const uint32_t stripes = (height + stripe - 1) / stripe;
    std::vector<unsigned char> image(page.size());
    std::mt19937 random(5);
    for (auto &b : image)
        b = static_cast<unsigned char>(random());
    auto reveal = [&](uint32_t s) {
        const size_t from = size_t{s} * stripe * rowBytes;
        const size_t to = std::min(page.size(), size_t{s + 1} * stripe * rowBytes);
        std::memcpy(image.data() + from, page.data() + from, to - from);
    };
    reveal(0);
    uint32_t revealed = 1;
    varkon::JbigStripeCounter counter;
    JbigCompressState state;
    state.observer = [&](const unsigned char *data, size_t len) {
        const uint32_t given = counter.feed(data, len);
        while (revealed < stripes && revealed <= given)
            reveal(revealed++);
    };
    JBIG_BIH params = bih;
    EXPECT_EQ(JBIGCompress(&params, image.data(), &state), 1);
    *stripesSeen = counter.stripes();
    return state.gpCompImgData;
}

TEST(PageEncoder, EncoderOfOneImageReadsOnlyTheStripesItWasGiven)
{
    const uint32_t width = 640, height = 1000;
    const std::vector<unsigned char> page = dithered_page(width, height, 11);
    for (int platform : {PLATFORM_C, PLATFORM_M}) {
        for (uint32_t stripe : {768u, 128u, 37u}) {
            GDI_SEND_PAGE_PARAM param = page_param(width, height, platform, const_cast<unsigned char *>(page.data()), stripe);
            JBIG_BIH bih = varkon::jbig_bih_for(param, platform);
            bih.ParamL0 = stripe;
            JbigCompressState plain;
            JBIG_BIH plainParams = bih;
            ASSERT_EQ(JBIGCompress(&plainParams, const_cast<unsigned char *>(page.data()), &plain), 1);
            uint32_t stripesSeen = 0;
            const std::vector<unsigned char> lazy = encode_lazily(page, bih, width / 8, &stripesSeen);
            EXPECT_EQ(stripesSeen, (height + stripe - 1) / stripe) << "platform " << platform;
            EXPECT_TRUE(lazy == plain.gpCompImgData) << "platform " << platform << ", stripes of " << stripe;
        }
    }
}

TEST(PageEncoder, PacedEncoderKeepsUpWithLinesWrittenWhileItRuns)
{
    // The real situation: lines are written into the page while a helper thread
    // encodes what is final. Unwritten lines hold noise.
    const uint32_t width = 640, height = 1000;
    const std::vector<unsigned char> page = dithered_page(width, height, 21);
    varkon::EncoderPool pool(2);
    varkon::PageEncoder encoder(pool);
    for (int platform : {PLATFORM_C, PLATFORM_M, PLATFORM_Z}) {
        std::vector<unsigned char> image(page.size(), 0xA5);
        const GDI_SEND_PAGE_PARAM param = page_param(width, height, platform, image.data(), 96);
        GDI_SEND_PAGE_PARAM reference = param;
        reference.sendImgBuf = const_cast<unsigned char *>(page.data());
        const Encoded want = single_threaded(reference, platform);

        Encoded got;
        encoder.begin(param, platform);
        for (uint32_t line = 0; line < height; ++line) {
            std::memcpy(image.data() + size_t{line} * width / 8, page.data() + size_t{line} * width / 8, width / 8);
            encoder.line_done(line);
            if (line % 96 == 95)
                std::this_thread::sleep_for(std::chrono::microseconds(300)); // let the encoder catch up
        }
        got.count = encoder.finish(got.bih, got.bytes);
        got.checksum = job().gImageChecksum;
        expect_same(got, want, "platform " + std::to_string(platform));
    }
}

TEST(PageEncoder, FailsLikeTheSingleThreadedEncoderWithoutAnImage)
{
    varkon::EncoderPool pool(2);
    varkon::PageEncoder encoder(pool);
    for (int platform : {PLATFORM_C, PLATFORM_Z, PLATFORM_M}) {
        job().prntLastError[0] = '\0';
        encoder.begin(page_param(64, 300, platform, nullptr), platform);
        for (uint32_t line = 0; line < 300; ++line)
            encoder.line_done(line);
        JBIG_BIH bih;
        std::vector<unsigned char> out;
        EXPECT_EQ(encoder.finish(bih, out), -1);
        EXPECT_STREQ(job().prntLastError, "OutputJbigkitCompression() :: no page image Fail .  \n");
        EXPECT_TRUE(out.empty());
    }
}

TEST(JbigStripeCounter, CountsStripeEndsAndSkipsMarkerPayloads)
{
    const unsigned char stream[] = {
        0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x02, 0xFF, 0x02, 0xFF, 0x02, // a header may hold anything
        0xFF, 0x02, 0xFF, 0x02, 0xFF, 0x02, 0xFF, 0x02, 0xFF, 0x02,
        0x12, 0xFF, 0x00, 0x34,                         // a stuffed data byte 0xFF
        0xFF, 0x06, 0x00, 0x00, 0x00, 0xFF, 0x02, 0x00, // ATMOVE at line 255, tx 2: not a stripe end
        0x56, 0xFF, 0x02,                               // end of stripe 1
        0xFF, 0x07, 0x00, 0x00, 0x00, 0x02, 0xFF, 0x03, // COMMENT holding FF 03
        0x78, 0xFF, 0x03,                               // end of stripe 2 (SDRST)
    };
    varkon::JbigStripeCounter whole;
    EXPECT_EQ(whole.feed(stream, sizeof stream), 2u);
    // Fed one byte at a time, markers split across pieces.
    varkon::JbigStripeCounter split;
    uint32_t afterFirstEnd = 0;
    for (size_t i = 0; i < sizeof stream; ++i) {
        split.feed(&stream[i], 1);
        if (i == 20 + 14)
            afterFirstEnd = split.stripes();
    }
    EXPECT_EQ(afterFirstEnd, 1u);
    EXPECT_EQ(split.stripes(), 2u);
}

TEST(EncoderThreads, HelperThreadsLeaveTheFilterSignalsToTheMainThread)
{
    varkon::EncoderThreads threads(2);
    ASSERT_EQ(threads.size(), 2u);
    std::atomic<int> blocked{-1};
    threads.run([&blocked] {
        sigset_t mask;
        pthread_sigmask(SIG_BLOCK, nullptr, &mask);
        blocked = sigismember(&mask, SIGALRM) && sigismember(&mask, SIGTERM) && sigismember(&mask, SIGPIPE);
    });
    while (blocked == -1)
        std::this_thread::yield();
    EXPECT_EQ(blocked, 1);
    // The caller's own mask is as it was.
    sigset_t mine;
    pthread_sigmask(SIG_BLOCK, nullptr, &mine);
    EXPECT_FALSE(sigismember(&mine, SIGTERM));
}

TEST(EncoderThreads, CountFromTheEnvironmentWithinBounds)
{
    setenv("VARKON_THREADS", "3", 1);
    EXPECT_EQ(varkon::encoder_thread_count(), 3u);
    setenv("VARKON_THREADS", "500", 1);
    EXPECT_EQ(varkon::encoder_thread_count(), varkon::kMaxEncoderThreads);
    unsetenv("VARKON_THREADS");
    const unsigned cores = varkon::encoder_thread_count();
    EXPECT_GE(cores, 1u);
    EXPECT_LE(cores, varkon::kMaxEncoderThreads);
    for (const char *unusable : {"0", "-2", "two", ""}) {
        setenv("VARKON_THREADS", unusable, 1);
        EXPECT_EQ(varkon::encoder_thread_count(), cores) << '"' << unusable << '"';
    }
    unsetenv("VARKON_THREADS");
}

} // namespace
