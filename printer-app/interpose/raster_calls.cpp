// SPDX-License-Identifier: GPL-2.0-or-later
// libcups' raster reading calls, for the whole program. PAPPL 1.3.1 reads a
// PWG raster job through them while the client sends it, and never hands
// such a job to a MIME filter; libcups decodes its lines one pixel at a time,
// which made a server job a third slower than the CUPS filter given the
// same pages. The PWG raster streams PAPPL opens are read by RasterReader
// instead, which gives the same headers and lines; any other stream, and
// every other caller, goes to libcups.
#include "raster_calls.h"

#include "pappl_caller.h"
#include "page_geometry.h"
#include "raster_reader.h"

#include <dlfcn.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace {

using varkon::app::RasterReader;

struct Libcups {
    using OpenIO = cups_raster_t *(*)(cups_raster_iocb_t, void *, cups_mode_t);
    using ReadHeader2 = unsigned (*)(cups_raster_t *, cups_page_header2_t *);
    using ReadPixels = unsigned (*)(cups_raster_t *, unsigned char *, unsigned);
    using Close = void (*)(cups_raster_t *);
    OpenIO openIO = reinterpret_cast<OpenIO>(dlsym(RTLD_NEXT, "cupsRasterOpenIO"));
    ReadHeader2 readHeader2 = reinterpret_cast<ReadHeader2>(dlsym(RTLD_NEXT, "cupsRasterReadHeader2"));
    ReadPixels readPixels = reinterpret_cast<ReadPixels>(dlsym(RTLD_NEXT, "cupsRasterReadPixels"));
    Close close = reinterpret_cast<Close>(dlsym(RTLD_NEXT, "cupsRasterClose"));
};

const Libcups &libcups()
{
    static const Libcups bound;
    return bound;
}

constexpr size_t kSyncBytes = 4;

// A PWG raster stream PAPPL reads through us.
struct OwnRaster {
    OwnRaster(cups_raster_iocb_t read, void *context, const unsigned char *sync)
        : reader(read, context, sync, kSyncBytes)
    {
        // The raster core refuses such pages; PAPPL would allocate their lines first.
        reader.limit_line_bytes(varkon::PageLimits{}.maxRasterLineBytes);
    }
    RasterReader reader;
    cups_page_header2_t header{};
    bool inPage = false;
    // A line handed out in parts, for callers that ask for less than a line.
    std::vector<unsigned char> line;
    size_t lineTaken = 0;
};

// A stream for libcups whose sync word we read first: libcups reads it again from here.
struct Replay {
    cups_raster_iocb_t read;
    void *context;
    unsigned char sync[kSyncBytes];
    size_t given;
    size_t taken = 0;

    static ssize_t read_callback(void *self, unsigned char *buffer, size_t length)
    {
        auto *r = static_cast<Replay *>(self);
        if (r->taken < r->given) {
            const size_t n = std::min(length, r->given - r->taken);
            std::memcpy(buffer, r->sync + r->taken, n);
            r->taken += n;
            return static_cast<ssize_t>(n);
        }
        return r->read(r->context, buffer, length);
    }
};

struct Streams {
    std::mutex lock;
    std::unordered_map<const cups_raster_t *, std::unique_ptr<OwnRaster>> own;
    std::unordered_map<const cups_raster_t *, std::unique_ptr<Replay>> replays;
};

Streams &streams()
{
    static Streams s;
    return s;
}

// Per thread, since PAPPL reads each stream and runs its job's callbacks on one thread.
thread_local std::string problemOfThisThread;

void note_problem(const RasterReader &reader)
{
    if (!reader.error().empty())
        problemOfThisThread = reader.error();
}

OwnRaster *own_raster(const cups_raster_t *r)
{
    Streams &s = streams();
    const std::lock_guard<std::mutex> hold(s.lock);
    const auto it = s.own.find(r);
    return it != s.own.end() ? it->second.get() : nullptr;
}

bool pwg_sync(const unsigned char *sync)
{
    uint32_t word;
    std::memcpy(&word, sync, sizeof word);
    return word == CUPS_RASTER_SYNCv2 || word == CUPS_RASTER_REVSYNCv2;
}

cups_raster_t *open_for_pappl(cups_raster_iocb_t iocb, void *ctx, cups_mode_t mode)
{
    auto replay = std::make_unique<Replay>(Replay{iocb, ctx, {}, 0});
    while (replay->given < kSyncBytes) {
        const ssize_t got = iocb(ctx, replay->sync + replay->given, kSyncBytes - replay->given);
        if (got <= 0)
            break;
        replay->given += static_cast<size_t>(got);
    }
    Streams &s = streams();
    if (replay->given == kSyncBytes && pwg_sync(replay->sync)) {
        auto own = std::make_unique<OwnRaster>(iocb, ctx, replay->sync);
        auto *handle = reinterpret_cast<cups_raster_t *>(own.get());
        const std::lock_guard<std::mutex> hold(s.lock);
        s.own.emplace(handle, std::move(own));
        return handle;
    }
    cups_raster_t *r = libcups().openIO(Replay::read_callback, replay.get(), mode);
    if (r != nullptr) {
        const std::lock_guard<std::mutex> hold(s.lock);
        s.replays.emplace(r, std::move(replay));
    }
    return r;
}

unsigned read_pixels(OwnRaster &o, unsigned char *p, unsigned len)
{
    if (!o.inPage || len == 0)
        return 0;
    const size_t bytes = o.header.cupsBytesPerLine;
    if (o.lineTaken == 0 && len == bytes)
        return o.reader.read_line(p) ? len : 0;
    // libcups lets a line be read in parts, or several lines at once.
    for (size_t done = 0; done < len;) {
        if (o.lineTaken == 0) {
            o.line.resize(bytes);
            if (!o.reader.read_line(o.line.data()))
                return 0;
        }
        const size_t n = std::min<size_t>(len - done, bytes - o.lineTaken);
        std::memcpy(p + done, o.line.data() + o.lineTaken, n);
        done += n;
        o.lineTaken = (o.lineTaken + n) % bytes;
    }
    return len;
}

} // namespace

namespace varkon::app {

bool pwg_raster_read_by_program() { return libcups().openIO != nullptr; }

std::string take_raster_problem()
{
    std::string problem;
    problem.swap(problemOfThisThread);
    return problem;
}

} // namespace varkon::app

extern "C" __attribute__((visibility("default"))) cups_raster_t *cupsRasterOpenIO(cups_raster_iocb_t iocb, void *ctx,
                                                                                  cups_mode_t mode)
{
    if (mode == CUPS_RASTER_READ && varkon::app::called_from_pappl(__builtin_return_address(0)))
        return open_for_pappl(iocb, ctx, mode);
    return libcups().openIO(iocb, ctx, mode);
}

extern "C" __attribute__((visibility("default"))) unsigned cupsRasterReadHeader2(cups_raster_t *r,
                                                                                 cups_page_header2_t *h)
{
    OwnRaster *o = own_raster(r);
    if (o == nullptr)
        return libcups().readHeader2(r, h);
    o->inPage = false;
    o->lineTaken = 0;
    if (h == nullptr)
        return 0;
    if (o->reader.next_page(&o->header) != RasterReader::Next::Page) {
        note_problem(o->reader);
        return 0;
    }
    o->inPage = true;
    *h = o->header;
    return 1;
}

extern "C" __attribute__((visibility("default"))) unsigned cupsRasterReadPixels(cups_raster_t *r, unsigned char *p,
                                                                                unsigned len)
{
    OwnRaster *o = own_raster(r);
    if (o == nullptr)
        return libcups().readPixels(r, p, len);
    const unsigned got = p != nullptr ? read_pixels(*o, p, len) : 0;
    if (got == 0)
        note_problem(o->reader);
    return got;
}

extern "C" __attribute__((visibility("default"))) void cupsRasterClose(cups_raster_t *r)
{
    Streams &s = streams();
    std::unique_ptr<OwnRaster> own;
    std::unique_ptr<Replay> replay;  // freed once libcups no longer reads through it
    {
        const std::lock_guard<std::mutex> hold(s.lock);
        if (const auto it = s.own.find(r); it != s.own.end()) {
            own = std::move(it->second);
            s.own.erase(it);
        } else if (const auto at = s.replays.find(r); at != s.replays.end()) {
            replay = std::move(at->second);
            s.replays.erase(at);
        }
    }
    if (!own)
        libcups().close(r);
}
