// SPDX-License-Identifier: GPL-2.0-or-later
// The JBIG encoder alone, ours against JBIG-KIT, one thread, with each
// platform's parameters (Z: 256-line bands as images of their own; C: stripes of
// 768 lines and the adaptive-template search; M: stripes of 256 lines), on the
// text and the photo page. The pages are the halftoned A4 pages of
// bench/pages/*.ps when VARKON_BENCH_PAGES names a folder holding the text.pbm
// and photo.pbm that varkon-bench-floor --pbm writes of them, else the
// synthetic pages of bench_pages.cpp dithered as the filter dithers them.
#include "bench_pages.h"
#include "bench_job.h"

#include "dither.h"
#include "jbig_encoder.h"
#include "platform.h"
#include "prnt.h"

extern "C" {
#include <jbig.h>
}

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

using varkon::bench::PageKind;

namespace {

struct Page {
    uint32_t width = 0, height = 0;
    std::vector<unsigned char> bits;
    std::string source;
};

bool read_pbm(const std::string &path, Page &page)
{
    FILE *file = std::fopen(path.c_str(), "rb");
    if (file == nullptr)
        return false;
    unsigned width = 0, height = 0;
    bool ok = std::fscanf(file, "P4 %u %u", &width, &height) == 2 && std::fgetc(file) != EOF && width > 0;
    if (ok) {
        page.width = width;
        page.height = height;
        page.bits.resize((size_t{width} + 7) / 8 * height);
        ok = std::fread(page.bits.data(), 1, page.bits.size(), file) == page.bits.size();
    }
    std::fclose(file);
    return ok;
}

const Page &page_of(PageKind kind)
{
    static std::map<PageKind, Page> pages;
    auto it = pages.find(kind);
    if (it != pages.end())
        return it->second;
    Page page;
    const char *folder = std::getenv("VARKON_BENCH_PAGES");
    const std::string name = varkon::bench::page_kind_name(kind);
    if (folder != nullptr && read_pbm(std::string(folder) + "/" + name + ".pbm", page)) {
        page.source = "bench/pages/" + name + ".ps";
    } else {
        const std::vector<unsigned char> gray = varkon::bench::gray_page(kind);
        page.width = varkon::bench::kA4Width;
        page.height = varkon::bench::kA4Height;
        page.bits.assign(gray.size() / 8, 0);
        HalftoneDither(gray.data(), page.width, page.height, page.bits.data(), page.width, 0, 0, PLATFORM_C);
        page.source = "synthetic " + name;
    }
    return pages.emplace(kind, std::move(page)).first->second;
}

JBIG_BIH bih_for(int platform, uint32_t width, uint32_t height)
{
    JBIG_BIH bih;
    bih.ParamP = 1;
    bih.ParamImgWidth = width;
    bih.ParamImgHeight = height;
    if (platform == PLATFORM_Z) {
        bih.ParamDl = 255;
        bih.ParamL0 = height;
        bih.ParamOrder = JBG_ILEAVE | JBG_SMID;
        bih.ParamOption = JBG_LRLTWO | JBG_TPDON | JBG_TPBON;
    } else if (platform == PLATFORM_C) {
        bih.ParamL0 = 768;
        bih.ParamMx = 8;
        bih.ParamOption = JBG_TPBON;
    } else {
        bih.ParamL0 = 256;
        bih.ParamOrder = JBG_ILEAVE | JBG_SMID;
        bih.ParamOption = JBG_LRLTWO | JBG_TPDON | JBG_TPBON | JBG_DPON;
    }
    return bih;
}

void count_bytes(unsigned char *, size_t len, void *total) { *static_cast<size_t *>(total) += len; }
void count_const(const unsigned char *, size_t len, void *total) { *static_cast<size_t *>(total) += len; }

size_t encode_jbigkit(const JBIG_BIH &bih, unsigned char *image)
{
    size_t total = 0;
    unsigned char *planes[1] = {image};
    jbg_enc_state encoder;
    jbg_enc_init(&encoder, bih.ParamImgWidth, bih.ParamImgHeight, 1, planes, count_bytes, &total);
    jbg_enc_layers(&encoder, 0);
    jbg_enc_lrange(&encoder, bih.ParamDl, -1);
    jbg_enc_options(&encoder, bih.ParamOrder, bih.ParamOption, bih.ParamL0, bih.ParamMx, 0);
    jbg_enc_out(&encoder);
    jbg_enc_free(&encoder);
    return total;
}

size_t encode_ours(const JBIG_BIH &bih, unsigned char *image)
{
    size_t total = 0;
    varkon::jbig_encode(bih, image, count_const, &total);
    return total;
}

// The page as one image (C, M) or as 256-line bands (Z).
template <size_t (*Encode)(const JBIG_BIH &, unsigned char *)>
void BM_Encode(benchmark::State &state)
{
    const PageKind kind = state.range(0) == 0 ? PageKind::Text : PageKind::Photo;
    const int platform = static_cast<int>(state.range(1));
    Page page = page_of(kind);
    const size_t rowBytes = (size_t{page.width} + 7) / 8;
    size_t bytes = 0;
    for (auto _ : state) {
        bytes = 0;
        if (platform == PLATFORM_Z) {
            for (uint32_t top = 0; top < page.height; top += 256)
                bytes += Encode(bih_for(platform, page.width, std::min(256u, page.height - top)),
                                page.bits.data() + top * rowBytes);
        } else {
            bytes = Encode(bih_for(platform, page.width, page.height), page.bits.data());
        }
        benchmark::DoNotOptimize(bytes);
    }
    static const char *const names[] = {"none", "C", "Z", "M"};
    state.SetLabel(page.source + ", platform " + names[platform]);
    state.counters["compressed bytes"] = static_cast<double>(bytes);
    // Seconds per pixel, shown with an SI prefix (n: nanoseconds).
    state.counters["s/pixel"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * page.width * page.height,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

BENCHMARK_TEMPLATE(BM_Encode, encode_ours)
    ->Name("BM_JbigOurs")
    ->ArgNames({"photo", "platform"})
    ->ArgsProduct({{0, 1}, {PLATFORM_C, PLATFORM_Z, PLATFORM_M}})
    ->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_Encode, encode_jbigkit)
    ->Name("BM_JbigKit")
    ->ArgNames({"photo", "platform"})
    ->ArgsProduct({{0, 1}, {PLATFORM_C, PLATFORM_Z, PLATFORM_M}})
    ->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
