// SPDX-License-Identifier: GPL-2.0-or-later
// Benchmarks of the printer-language path of one A4 600 dpi page: the halftone
// dither (and the plain reference loop it replaces), the JBIG encoding on one
// thread and through the page encoder's helper threads, and the whole page
// (start, dither, data, end) per platform, each on a text-like and a photo-like page.
#include "bench_pages.h"
#include "bench_job.h"

#include "dither.h"
#include "image_transfer.h"
#include "page_encoder.h"
#include "platform.h"
#include "prnt.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <vector>

using varkon::bench::PageKind;

namespace {

// The gray pages are made once: drawing the photo page costs more than dithering it.
const std::vector<unsigned char> &cached_page(PageKind kind)
{
    static std::map<PageKind, std::vector<unsigned char>> pages;
    auto it = pages.find(kind);
    if (it == pages.end())
        it = pages.emplace(kind, varkon::bench::gray_page(kind)).first;
    return it->second;
}

std::vector<unsigned char> dithered_page(PageKind kind)
{
    const auto &gray = cached_page(kind);
    std::vector<unsigned char> mono(gray.size() / 8, 0);
    HalftoneDither(gray.data(), varkon::bench::kA4Width, varkon::bench::kA4Height, mono.data(),
                   varkon::bench::kA4Width, 0, 0, PLATFORM_C);
    return mono;
}

// Sends descriptor 1 to /dev/null while a benchmark loop runs; the reporter's own
// output after the loop goes to the real standard output again.
class DiscardStdout {
public:
    DiscardStdout() : saved_(dup(1))
    {
        std::fflush(stdout);
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        close(null);
    }
    ~DiscardStdout()
    {
        dup2(saved_, 1);
        close(saved_);
    }
    DiscardStdout(const DiscardStdout &) = delete;
    DiscardStdout &operator=(const DiscardStdout &) = delete;

private:
    int saved_;
};

PageKind kind_of(const benchmark::State &state) { return state.range(0) == 0 ? PageKind::Text : PageKind::Photo; }

void set_labels(benchmark::State &state, int platform)
{
    static const char *const names[] = {"none", "C", "Z", "M"};
    state.SetLabel(std::string(varkon::bench::page_kind_name(kind_of(state))) + " page, platform " + names[platform]);
    state.counters["pages/s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_Dither(benchmark::State &state)
{
    const int platform = static_cast<int>(state.range(1));
    const int b1200dpi = static_cast<int>(state.range(2));
    const bool twoBit = platform == PLATFORM_M && b1200dpi == 1;
    const auto &gray = cached_page(kind_of(state));
    std::vector<unsigned char> mono(gray.size() / 8 * (twoBit ? 2 : 1));
    for (auto _ : state) {
        std::fill(mono.begin(), mono.end(), 0);
        HalftoneDither(gray.data(), varkon::bench::kA4Width, varkon::bench::kA4Height, mono.data(),
                       varkon::bench::kA4Width, 0, b1200dpi, platform);
        benchmark::DoNotOptimize(mono.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * gray.size()));
    set_labels(state, platform);
}
BENCHMARK(BM_Dither)
    ->ArgNames({"photo", "platform", "b1200dpi"})
    ->Args({0, PLATFORM_C, 0})
    ->Args({1, PLATFORM_C, 0})
    ->Args({1, PLATFORM_C, 1})
    ->Args({1, PLATFORM_Z, 1})
    ->Args({1, PLATFORM_M, 1})
    ->Unit(benchmark::kMillisecond);

void BM_DitherReference(benchmark::State &state)
{
    const auto &gray = cached_page(kind_of(state));
    std::vector<unsigned char> mono(gray.size() / 8);
    for (auto _ : state) {
        std::fill(mono.begin(), mono.end(), 0);
        varkon::halftone_dither_reference(gray.data(), varkon::bench::kA4Width, varkon::bench::kA4Height,
                                          mono.data(), varkon::bench::kA4Width, 0, 0, PLATFORM_Z);
        benchmark::DoNotOptimize(mono.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * gray.size()));
    set_labels(state, PLATFORM_Z);
}
BENCHMARK(BM_DitherReference)->ArgNames({"photo"})->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// The compressed page as the job loop gets it: every line final at once, bands
// (Z) or the whole image (C, M) on the given number of encoder threads.
void BM_PageEncoder(benchmark::State &state)
{
    const int platform = static_cast<int>(state.range(1));
    const unsigned threads = static_cast<unsigned>(state.range(2));
    std::vector<unsigned char> mono = dithered_page(kind_of(state));
    GDI_SEND_PAGE_PARAM param;
    param.whlImgW = varkon::bench::kA4Width;
    param.whlImgH = varkon::bench::kA4Height;
    param.rasImgW = platform == PLATFORM_C ? varkon::bench::kA4Width : 0;
    param.rasImgH = platform == PLATFORM_C ? 768 : 0;
    param.sendImgBuf = mono.data();
    varkon::EncoderPool pool(threads);
    varkon::PageEncoder encoder(pool);
    std::vector<unsigned char> out;
    for (auto _ : state) {
        encoder.begin(param, platform);
        encoder.all_lines_done();
        JBIG_BIH bih;
        benchmark::DoNotOptimize(encoder.finish(bih, out));
    }
    state.counters["threads"] = threads;
    set_labels(state, platform);
}
BENCHMARK(BM_PageEncoder)
    ->ArgNames({"photo", "platform", "threads"})
    ->ArgsProduct({{0, 1}, {PLATFORM_Z}, {1, 2}})
    ->Args({1, PLATFORM_C, 2})
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

void BM_JbigEncode(benchmark::State &state)
{
    const int platform = static_cast<int>(state.range(1));
    std::vector<unsigned char> mono = dithered_page(kind_of(state));
    GDI_SEND_PAGE_PARAM param;
    param.whlImgW = varkon::bench::kA4Width;
    param.whlImgH = varkon::bench::kA4Height;
    param.rasImgW = platform == PLATFORM_C ? varkon::bench::kA4Width : 0;
    param.rasImgH = platform == PLATFORM_C ? 768 : 0;
    param.sendImgBuf = mono.data();
    std::vector<unsigned char> out;
    int size = 0;
    for (auto _ : state) {
        JBIG_BIH bih = varkon::jbig_bih_for(param, platform);
        size = OutputJbigkitCompression(&param, &bih, out, platform);
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["compressed bytes"] = size;
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * mono.size()));
    set_labels(state, platform);
}
BENCHMARK(BM_JbigEncode)
    ->ArgNames({"photo", "platform"})
    ->ArgsProduct({{0, 1}, {PLATFORM_C, PLATFORM_Z, PLATFORM_M}})
    ->Unit(benchmark::kMillisecond);

// One page as the job loop drives it, from the gray page to the last byte of the page end.
void BM_WholePage(benchmark::State &state)
{
    const int platform = static_cast<int>(state.range(1));
    const auto &gray = cached_page(kind_of(state));
    std::vector<unsigned char> mono(gray.size() / 8);

    GDI_START_PAGE_PARAM start;
    start.paperSize = 9;
    start.resolutionX = start.resolutionY = platform == PLATFORM_M ? 600 : 60;
    start.copies = 1;
    start.pageNum = 1;
    start.userPrntAreaW = varkon::bench::kA4Width;
    start.userPrntAreaH = varkon::bench::kA4Height;
    GDI_END_PAGE_PARAM end;
    end.page = 1;
    end.resolutionE = 600;
    end.paperWidthE = 210;
    end.densityE = 2;

    DiscardStdout discard;
    for (auto _ : state) {
        Prnt_StartPage(&start, platform);
        std::fill(mono.begin(), mono.end(), 0);
        HalftoneDither(gray.data(), varkon::bench::kA4Width, varkon::bench::kA4Height, mono.data(),
                       varkon::bench::kA4Width, 0, 0, platform);
        GDI_SEND_PAGE_PARAM send;
        send.compression = 0x20;
        send.whlImgW = varkon::bench::kA4Width;
        send.whlImgH = varkon::bench::kA4Height;
        send.rasImgW = platform == PLATFORM_C ? varkon::bench::kA4Width : 0;
        send.rasImgH = platform == PLATFORM_C ? 768 : 0;
        send.sendImgBuf = mono.data();
        if (!Prnt_SendPage(&send, platform) || !Prnt_EndPage(&end, platform)) {
            state.SkipWithError("the page could not be sent");
            break;
        }
    }
    set_labels(state, platform);
}
BENCHMARK(BM_WholePage)
    ->ArgNames({"photo", "platform"})
    ->ArgsProduct({{0, 1}, {PLATFORM_C, PLATFORM_Z, PLATFORM_M}})
    ->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
