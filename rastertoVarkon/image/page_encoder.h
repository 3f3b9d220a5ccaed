// SPDX-License-Identifier: GPL-2.0-or-later
// Compressing a page while it is being dithered. On platform Z every 256-line band
// is an image of its own and is encoded on the next free thread as soon as its
// lines are final; on C and M the one image of the page is encoded on a thread
// that follows the dithered lines stripe by stripe. Whatever the thread count, the
// bytes are those of OutputJbigkitCompression, in the same order.
#pragma once

#include "jbigCompress.h"
#include "prnt.h"

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace varkon {

constexpr unsigned kMaxEncoderThreads = 8;

// Encoder threads of this process: the value of VARKON_THREADS when it is a
// number from 1 up (1: everything on the calling thread), else the cores the
// process may run on; never more than kMaxEncoderThreads.
unsigned encoder_thread_count();

// Counts the stripe data entities that have gone by in a JBIG bi-level image
// entity, fed in pieces as an encoder produces it. Stripes end with an SDNORM or
// SDRST marker; marker segments with a payload (ATMOVE, NEWLEN, COMMENT) are
// skipped whole, since their payload may hold any byte.
class JbigStripeCounter {
public:
    // Stripes complete after `len` more bytes.
    uint32_t feed(const unsigned char *data, size_t len);
    uint32_t stripes() const { return stripes_; }

private:
    uint32_t headerLeft_ = 20; // the bi-level image header carries no markers
    bool escape_ = false;
    uint32_t skip_ = 0;        // payload bytes of a marker segment still to pass
    uint32_t lengthBytes_ = 0; // bytes of a COMMENT length still to read
    uint32_t length_ = 0;
    uint32_t stripes_ = 0;
};

// Helper threads with SIGALRM, SIGTERM, SIGPIPE and SIGINT blocked, so that the
// filter's handlers run only on the thread that writes the printer stream.
class EncoderThreads {
public:
    // Starts up to `count` threads; fewer (even none) when the system refuses more.
    explicit EncoderThreads(unsigned count);
    ~EncoderThreads();
    EncoderThreads(const EncoderThreads &) = delete;
    EncoderThreads &operator=(const EncoderThreads &) = delete;

    size_t size() const { return threads_.size(); }
    // Runs the task on the next free thread. The task must not throw.
    void run(std::function<void()> task);

private:
    void work();

    std::vector<std::thread> threads_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> tasks_;
    bool stopping_ = false;
};

// The helper threads of a job, started when first asked for and shared by the
// pages in flight.
class EncoderPool {
public:
    // threads: the encoder thread count; 1 or less keeps everything on the calling thread.
    explicit EncoderPool(unsigned threads) : wanted_(threads) {}
    // The helper threads, or nullptr when there are none.
    EncoderThreads *threads();

private:
    unsigned wanted_;
    std::unique_ptr<EncoderThreads> threads_;
};

// One page at a time: begin(), line_done() for each line as it becomes final (in
// any order), finish(). The image must stay in place and its final lines unchanged
// until finish() returns. Only the calling thread touches the process globals.
class PageEncoder {
public:
    // The pool must outlive the encoder.
    explicit PageEncoder(EncoderPool &pool);
    ~PageEncoder();
    PageEncoder(const PageEncoder &) = delete;
    PageEncoder &operator=(const PageEncoder &) = delete;

    // Starts a page described as Prnt_SendPage takes it (whlImgW, whlImgH, rasImgH, sendImgBuf).
    void begin(const GDI_SEND_PAGE_PARAM &param, int platform);
    // Line `line` of the image will not change any more.
    void line_done(uint32_t line);
    // Every line not yet announced is final too.
    void all_lines_done();
    // Waits for the page and puts into outbuf what OutputJbigkitCompression would,
    // with bih as it would leave it and gImageChecksum set the same way. Returns the
    // byte count, or -1 with the failure text in front of prntLastError.
    int finish(JBIG_BIH &bih, std::vector<unsigned char> &outbuf);
    // Whether finish() would return without waiting for a helper thread.
    bool done();
    // Drops the page: bands not yet started are not encoded, and the C and M
    // encoder is let run out over whatever the unfinished lines hold (the caller
    // makes them blank, which encodes fastest). Returns when no thread reads the image.
    void abandon();

private:
    struct Segment; // a Z band, or a stripe of the C and M image

    void segment_final(uint32_t index);
    void encode_band(uint32_t index);
    void encode_whole_image();
    void wait_for_stripes(uint32_t count);
    void task_done();
    unsigned char *band_data(uint32_t index);
    int assemble_bands(JBIG_BIH &bih, std::vector<unsigned char> &outbuf);
    int assemble_image(std::vector<unsigned char> &outbuf);
    bool use_threads();

    EncoderPool &pool_;
    EncoderThreads *threads_ = nullptr;

    // The page.
    JBIG_BIH bih_;
    unsigned char *image_ = nullptr;
    size_t imageSize_ = 0; // whlImgW x whlImgH / 8: what the encoder may read
    size_t rowBytes_ = 0;
    uint32_t height_ = 0;
    uint32_t segmentLines_ = 0;
    bool banded_ = false;
    bool paced_ = false; // C and M on a helper thread, following the stripes
    bool abandoning_ = false;

    std::vector<uint32_t> linesLeft_; // per segment; calling thread only
    std::vector<std::unique_ptr<Segment>> segments_;
    JbigCompressState whole_;         // C and M output
    bool wholeOk_ = false;

    std::mutex mutex_;
    std::condition_variable changed_;
    uint32_t finalPrefix_ = 0;   // leading segments whose lines are all final
    uint32_t outstanding_ = 0;   // tasks handed to the threads and not yet done
};

} // namespace varkon
