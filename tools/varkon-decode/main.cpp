// SPDX-License-Identifier: GPL-2.0-or-later
// varkon-decode: reads a printer stream, lists its items, checks it and writes
// its pages as image files.
#include "page_files.h"
#include "varkon_decode.h"

#include <getopt.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

namespace {

using namespace varkon::decode;

constexpr int kExitValid = 0;
constexpr int kExitViolation = 1;
constexpr int kExitUsage = 2;

constexpr char kUsage[] =
    "Usage: varkon-decode [OPTIONS] [FILE]\n"
    "Reads a Varkon printer stream (platform C, Z or M) from FILE or standard input,\n"
    "checks it the way the printer does and decodes its pages.\n"
    "\n"
    "  -p, --platform C|Z|M  platform of the stream (default: told from its first bytes)\n"
    "  -l, --list            list every PJL line, frame and 00 00 run with its offset\n"
    "  -o, --output DIR      write the pages to DIR as page-001.pbm, page-002.pbm ...\n"
    "                        (PGM for pages of 2 bits per pixel)\n"
    "      --png             with -o, write page-001.png ... as well\n"
    "  -q, --quiet           no summary line\n"
    "  -h, --help            show this help and exit\n"
    "\n"
    "Exit status: 0 for a valid stream, 1 for a stream with a violation (its offset\n"
    "and reason are printed), 2 for a wrong command line or an unreadable file.\n";

struct Arguments {
    Platform platform = Platform::Unknown;
    bool list = false;
    bool png = false;
    bool quiet = false;
    std::string output_dir;
    std::string input = "-";
};

int usage_error(const char *text)
{
    std::fprintf(stderr, "varkon-decode: %s\nTry 'varkon-decode --help'.\n", text);
    return kExitUsage;
}

// Returns -1 to go on, else the exit status.
int parse_arguments(int argc, char **argv, Arguments &args)
{
    static const option kOptions[] = {
        {"platform", required_argument, nullptr, 'p'}, {"list", no_argument, nullptr, 'l'},
        {"output", required_argument, nullptr, 'o'},   {"png", no_argument, nullptr, 'P'},
        {"quiet", no_argument, nullptr, 'q'},          {"help", no_argument, nullptr, 'h'},
        {nullptr, 0, nullptr, 0},
    };
    int c;
    while ((c = getopt_long(argc, argv, "p:lo:qh", kOptions, nullptr)) != -1) {
        switch (c) {
        case 'p':
            args.platform = platform_from_name(optarg);
            if (args.platform == Platform::Unknown)
                return usage_error("--platform takes C, Z or M");
            break;
        case 'l': args.list = true; break;
        case 'o': args.output_dir = optarg; break;
        case 'P': args.png = true; break;
        case 'q': args.quiet = true; break;
        case 'h': std::fputs(kUsage, stdout); return kExitValid;
        default: return usage_error("unknown option");
        }
    }
    if (argc - optind > 1)
        return usage_error("one input file at most");
    if (optind < argc)
        args.input = argv[optind];
    if (args.png && args.output_dir.empty())
        return usage_error("--png needs --output DIR");
    return -1;
}

bool read_input(const std::string &path, std::vector<unsigned char> &data)
{
    FILE *file = path == "-" ? stdin : std::fopen(path.c_str(), "rb");
    if (!file) {
        std::fprintf(stderr, "varkon-decode: cannot open %s: %s\n", path.c_str(), std::strerror(errno));
        return false;
    }
    unsigned char block[65536];
    size_t n;
    while ((n = std::fread(block, 1, sizeof block, file)) > 0)
        data.insert(data.end(), block, block + n);
    bool ok = !std::ferror(file);
    if (!ok)
        std::fprintf(stderr, "varkon-decode: cannot read %s: %s\n", path.c_str(), std::strerror(errno));
    if (file != stdin)
        std::fclose(file);
    return ok;
}

bool make_output_dir(const std::string &dir)
{
    if (mkdir(dir.c_str(), 0777) == 0 || errno == EEXIST)
        return true;
    std::fprintf(stderr, "varkon-decode: cannot create %s: %s\n", dir.c_str(), std::strerror(errno));
    return false;
}

// Writes each page as it is finished, so that a long job never holds all its pixels.
struct PageWriter {
    const Arguments &args;
    size_t written = 0;
    bool failed = false;

    void operator()(const Page &page)
    {
        ++written;
        std::string base = args.output_dir + "/";
        std::string error = write_pnm(page, base + page_file_name(written, pnm_extension(page)));
        if (error.empty() && args.png)
            error = write_png(page, base + page_file_name(written, "png"));
        if (!error.empty()) {
            std::fprintf(stderr, "varkon-decode: %s\n", error.c_str());
            failed = true;
        }
    }
};

int run(const Arguments &args)
{
    std::vector<unsigned char> data;
    if (!read_input(args.input, data))
        return kExitUsage;
    if (!args.output_dir.empty() && !make_output_dir(args.output_dir))
        return kExitUsage;
    PageWriter writer{args};
    DecodeOptions options;
    options.platform = args.platform;
    options.keep_pixels = false;
    if (!args.output_dir.empty())
        options.on_page = [&writer](const Page &page) { writer(page); };
    DecodedStream stream = decode_stream(data.data(), data.size(), options);
    if (args.list)
        for (const Item &item : stream.items)
            std::printf("%10zu  %s\n", item.offset, format_item(item).c_str());
    if (!args.quiet)
        std::printf("varkon-decode: %s\n", format_summary(stream).c_str());
    std::fflush(stdout);
    if (stream.violation) {
        std::fprintf(stderr, "varkon-decode: %s\n", format_violation(*stream.violation).c_str());
        return kExitViolation;
    }
    return writer.failed ? kExitUsage : kExitValid;
}

} // namespace

int main(int argc, char **argv)
{
    setbuf(stderr, nullptr);
    Arguments args;
    if (int status = parse_arguments(argc, argv, args); status >= 0)
        return status;
    try {
        return run(args);
    } catch (const std::bad_alloc &) {
        std::fputs("varkon-decode: out of memory\n", stderr);
        return kExitUsage;
    }
}
