// SPDX-License-Identifier: GPL-2.0-or-later
// The page encoder: Z bands on a small set of helper threads, the C and M image on
// one helper that the dithered lines pace, and the assembly of the compressed page
// in the order the printers expect.
#include "page_encoder.h"

#include "image_transfer.h"
#include "job_context.h"
#include "platform.h"

#include <pthread.h>
#include <sched.h>
#include <signal.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>
#include <system_error>

namespace varkon {

namespace {

// T.82 marker codes, after the escape byte.
constexpr unsigned char kEscape = 0xFF;
constexpr unsigned char kStuff = 0x00;
constexpr unsigned char kSdnorm = 0x02;
constexpr unsigned char kSdrst = 0x03;
constexpr unsigned char kNewlen = 0x05;
constexpr unsigned char kAtmove = 0x06;
constexpr unsigned char kComment = 0x07;

int encode_failure(const char *failure)
{
    prepend_last_error(failure);
    return -1;
}

const char *failure_text(const JbigCompressState &state)
{
    return state.outOfMemory ? "OutputJbigkitCompression() :: malloc Fail .  \n"
                             : "OutputJbigkitCompression() :: JBIGCompress Fail .  \n";
}

void reset(JbigCompressState &state)
{
    state.gpCompImgData.clear();
    state.gJbigCompressDataLen = 0;
    state.outOfMemory = false;
    state.observer = nullptr;
}

} // namespace

unsigned encoder_thread_count()
{
    const char *text = std::getenv("VARKON_THREADS");
    if (text != nullptr && std::isdigit(static_cast<unsigned char>(text[0]))) {
        char *end = nullptr;
        const unsigned long wanted = std::strtoul(text, &end, 10);
        if (*end == '\0' && wanted >= 1)
            return static_cast<unsigned>(std::min<unsigned long>(wanted, kMaxEncoderThreads));
    }
    unsigned cores = 0;
    cpu_set_t allowed;
    if (sched_getaffinity(0, sizeof allowed, &allowed) == 0)
        cores = static_cast<unsigned>(CPU_COUNT(&allowed));
    if (cores == 0)
        cores = std::thread::hardware_concurrency();
    return std::clamp(cores, 1u, kMaxEncoderThreads);
}

uint32_t JbigStripeCounter::feed(const unsigned char *data, size_t len)
{
    for (size_t i = 0; i < len; ++i) {
        const unsigned char c = data[i];
        if (headerLeft_ > 0) {
            --headerLeft_;
        } else if (skip_ > 0) {
            --skip_;
        } else if (lengthBytes_ > 0) {
            length_ = length_ << 8 | c;
            if (--lengthBytes_ == 0)
                skip_ = length_;
        } else if (!escape_) {
            escape_ = c == kEscape;
        } else {
            escape_ = false;
            switch (c) {
            case kSdnorm:
            case kSdrst:
                ++stripes_;
                break;
            case kAtmove:
                skip_ = 6; // line number, tx, ty
                break;
            case kNewlen:
                skip_ = 4;
                break;
            case kComment:
                lengthBytes_ = 4;
                length_ = 0;
                break;
            case kStuff: // a data byte 0xFF
            default:
                break;
            }
        }
    }
    return stripes_;
}

EncoderThreads::EncoderThreads(unsigned count)
{
    // Threads inherit the mask of the thread that starts them.
    sigset_t blocked, previous;
    sigemptyset(&blocked);
    for (int sig : {SIGALRM, SIGTERM, SIGPIPE, SIGINT})
        sigaddset(&blocked, sig);
    pthread_sigmask(SIG_BLOCK, &blocked, &previous);
    try {
        threads_.reserve(count);
        for (unsigned i = 0; i < count; ++i)
            threads_.emplace_back([this] { work(); });
    } catch (const std::system_error &) {
        // The system gave fewer threads: the work is the same, only slower.
    } catch (const std::bad_alloc &) {
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

EncoderThreads::~EncoderThreads()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    for (std::thread &t : threads_)
        t.join();
}

void EncoderThreads::run(std::function<void()> task)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        tasks_.push_back(std::move(task));
    }
    wake_.notify_one();
}

void EncoderThreads::work()
{
    for (;;) {
        std::function<void()> task;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || !tasks_.empty(); });
            if (tasks_.empty())
                return;
            task = std::move(tasks_.front());
            tasks_.pop_front();
        }
        task();
    }
}

struct PageEncoder::Segment {
    bool final = false;                // every line is final; guarded by the encoder's mutex
    JbigCompressState state;           // Z: the band's compressed data, kept for the next page
    std::vector<unsigned char> padded; // Z: the band when the page lacks bytes for it
    bool ok = false;
    uint32_t checksum = 0;
};

EncoderThreads *EncoderPool::threads()
{
    if (wanted_ <= 1)
        return nullptr;
    if (!threads_)
        threads_ = std::make_unique<EncoderThreads>(wanted_);
    return threads_->size() > 0 ? threads_.get() : nullptr;
}

PageEncoder::PageEncoder(EncoderPool &pool) : pool_(pool) {}

PageEncoder::~PageEncoder()
{
    if (threads_ != nullptr)
        abandon(); // a page left unfinished: no thread may outlive the image it reads
}

bool PageEncoder::use_threads()
{
    if (threads_ == nullptr)
        threads_ = pool_.threads();
    return threads_ != nullptr;
}

bool PageEncoder::done()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return outstanding_ == 0;
}

void PageEncoder::begin(const GDI_SEND_PAGE_PARAM &param, int platform)
{
    bih_ = jbig_bih_for(param, platform);
    image_ = param.sendImgBuf;
    height_ = param.whlImgH;
    rowBytes_ = (size_t{param.whlImgW} + 7) / 8;
    imageSize_ = size_t{param.whlImgW} * param.whlImgH / 8;
    banded_ = platform == PLATFORM_Z;
    // A stripe height of 0 leaves it to the encoder; the page is then one segment.
    const uint32_t stripe = banded_ ? kBandLines : bih_.ParamL0;
    segmentLines_ = (stripe == 0 || stripe > height_) ? std::max(height_, 1u) : stripe;
    const uint32_t count = (height_ + segmentLines_ - 1) / segmentLines_;

    linesLeft_.assign(count, segmentLines_);
    if (count > 0)
        linesLeft_.back() = height_ - (count - 1) * segmentLines_;
    while (segments_.size() < count)
        segments_.push_back(std::make_unique<Segment>());
    for (uint32_t s = 0; s < count; ++s) {
        segments_[s]->final = false;
        segments_[s]->ok = false;
    }
    finalPrefix_ = 0;
    outstanding_ = 0;
    wholeOk_ = false;
    reset(whole_);

    // C and M follow the dithered lines when the encoder can read the page in place.
    const bool encodable = image_ != nullptr && param.whlImgW > 0 && height_ > 0;
    paced_ = !banded_ && encodable && imageSize_ >= rowBytes_ * height_ && use_threads();
    if (paced_) {
        outstanding_ = 1;
        try {
            threads_->run([this] {
                encode_whole_image();
                task_done();
            });
        } catch (const std::bad_alloc &) {
            outstanding_ = 0;
            paced_ = false;
        }
    }
}

void PageEncoder::line_done(uint32_t line)
{
    if (line >= height_)
        return;
    const uint32_t s = line / segmentLines_;
    if (linesLeft_[s] > 0 && --linesLeft_[s] == 0)
        segment_final(s);
}

void PageEncoder::all_lines_done()
{
    for (uint32_t s = 0; s < linesLeft_.size(); ++s)
        if (linesLeft_[s] > 0) {
            linesLeft_[s] = 0;
            segment_final(s);
        }
}

void PageEncoder::abandon()
{
    abandoning_ = true;
    all_lines_done();
    {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [this] { return outstanding_ == 0; });
    }
    abandoning_ = false;
}

void PageEncoder::segment_final(uint32_t index)
{
    if (!banded_) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            segments_[index]->final = true;
            while (finalPrefix_ < linesLeft_.size() && segments_[finalPrefix_]->final)
                ++finalPrefix_;
        }
        changed_.notify_all();
        return;
    }
    if (abandoning_)
        return;
    if (!use_threads()) {
        encode_band(index);
        return;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ++outstanding_;
    }
    try {
        threads_->run([this, index] {
            encode_band(index);
            task_done();
        });
    } catch (const std::bad_alloc &) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            --outstanding_;
        }
        encode_band(index);
    }
}

// The band's lines as the encoder reads them: in place, or copied and padded with
// zero bytes where a page whose width is not a whole number of bytes ends early.
unsigned char *PageEncoder::band_data(uint32_t index)
{
    Segment &band = *segments_[index];
    const uint32_t first = index * segmentLines_;
    const uint32_t lines = std::min(segmentLines_, height_ - first);
    const size_t offset = rowBytes_ * first;
    const size_t wanted = rowBytes_ * lines;
    if (offset + wanted <= imageSize_)
        return image_ + offset;
    const size_t available = offset < imageSize_ ? imageSize_ - offset : 0;
    try {
        band.padded.assign(wanted, 0);
    } catch (const std::bad_alloc &) {
        return nullptr;
    }
    std::memcpy(band.padded.data(), image_ + offset, available);
    return band.padded.data();
}

void PageEncoder::encode_band(uint32_t index)
{
    Segment &band = *segments_[index];
    const uint32_t first = index * segmentLines_;
    JBIG_BIH bih = bih_;
    bih.ParamImgHeight = std::min(segmentLines_, height_ - first);
    bih.ParamL0 = bih.ParamImgHeight;
    reset(band.state);
    unsigned char *data = image_ != nullptr ? band_data(index) : nullptr;
    band.state.outOfMemory = image_ != nullptr && data == nullptr;
    band.ok = data != nullptr && JBIGCompress(&bih, data, &band.state) != 0;
    if (band.ok)
        band.checksum = image_checksum(band.state.gpCompImgData.data(), band.state.gJbigCompressDataLen);
}

void PageEncoder::task_done()
{
    // Notified under the lock: once the count is 0 the encoder may be destroyed.
    std::lock_guard<std::mutex> lock(mutex_);
    --outstanding_;
    changed_.notify_all();
}

void PageEncoder::wait_for_stripes(uint32_t count)
{
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this, count] { return finalPrefix_ >= count; });
}

// The one image of C and M. Paced, the encoder starts when the first stripe is
// final and, each time it has given out a stripe, waits for the next one: it
// reads a stripe's lines only while encoding that stripe.
void PageEncoder::encode_whole_image()
{
    const uint32_t stripes = static_cast<uint32_t>(linesLeft_.size());
    std::vector<unsigned char> padded;
    unsigned char *data = image_;
    JbigStripeCounter counter;
    if (paced_) {
        wait_for_stripes(1);
        whole_.observer = [this, &counter, stripes](const unsigned char *out, size_t len) {
            const uint32_t given = counter.feed(out, len);
            if (given < stripes)
                wait_for_stripes(given + 1);
        };
    } else if (image_ != nullptr && imageSize_ < rowBytes_ * height_) {
        try {
            padded.assign(rowBytes_ * height_, 0);
        } catch (const std::bad_alloc &) {
            whole_.outOfMemory = true;
            return;
        }
        std::memcpy(padded.data(), image_, imageSize_);
        data = padded.data();
    }
    wholeOk_ = JBIGCompress(&bih_, data, &whole_) != 0;
    whole_.observer = nullptr;
}

int PageEncoder::finish(JBIG_BIH &bih, std::vector<unsigned char> &outbuf)
{
    all_lines_done();
    if (banded_ || paced_) {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [this] { return outstanding_ == 0; });
    }
    outbuf.clear();
    bih = bih_;
    if (image_ == nullptr || bih_.ParamImgWidth == 0 || height_ == 0)
        return encode_failure("OutputJbigkitCompression() :: no page image Fail .  \n");
    if (banded_)
        return assemble_bands(bih, outbuf);
    if (!paced_)
        encode_whole_image();
    return assemble_image(outbuf);
}

int PageEncoder::assemble_bands(JBIG_BIH &bih, std::vector<unsigned char> &outbuf)
{
    for (uint32_t s = 0; s < linesLeft_.size(); ++s) {
        Segment &band = *segments_[s];
        const uint32_t first = s * segmentLines_;
        bih.ParamImgHeight = std::min(segmentLines_, height_ - first);
        bih.ParamL0 = bih.ParamImgHeight;
        if (!band.ok) {
            outbuf.clear();
            return encode_failure(failure_text(band.state));
        }
        job_context().gImageChecksum = band.checksum;
        unsigned char frame[kBandFrameLen];
        GetJbigBandCmd(frame, &bih, static_cast<uint32_t>(band.state.gJbigCompressDataLen), first);
        outbuf.insert(outbuf.end(), frame, frame + sizeof frame);
        outbuf.insert(outbuf.end(), band.state.gpCompImgData.begin(), band.state.gpCompImgData.end());
    }
    if (outbuf.size() > static_cast<size_t>(INT_MAX))
        return encode_failure("OutputJbigkitCompression() :: compressed page too large Fail .  \n");
    return static_cast<int>(outbuf.size());
}

int PageEncoder::assemble_image(std::vector<unsigned char> &outbuf)
{
    if (!wholeOk_)
        return encode_failure(failure_text(whole_));
    job_context().gImageChecksum = image_checksum(whole_.gpCompImgData.data(), whole_.gJbigCompressDataLen);
    // The buffers change hands, so both keep their size for the next page.
    outbuf.swap(whole_.gpCompImgData);
    if (outbuf.size() > static_cast<size_t>(INT_MAX))
        return encode_failure("OutputJbigkitCompression() :: compressed page too large Fail .  \n");
    return static_cast<int>(outbuf.size());
}

} // namespace varkon
