// SPDX-License-Identifier: GPL-2.0-or-later
// Runs a libFuzzer harness once over each file named on the command line, or
// over every file of a named folder: the corpus replay of the ordinary build.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

namespace {

std::vector<std::filesystem::path> inputs_of(const std::filesystem::path &arg)
{
    std::vector<std::filesystem::path> files;
    if (std::filesystem::is_directory(arg)) {
        for (const auto &entry : std::filesystem::directory_iterator(arg))
            if (entry.is_regular_file())
                files.push_back(entry.path());
    } else {
        files.push_back(arg);
    }
    std::sort(files.begin(), files.end());
    return files;
}

} // namespace

int main(int argc, char **argv)
{
    std::size_t replayed = 0;
    for (int i = 1; i < argc; ++i) {
        if (!std::filesystem::exists(argv[i])) {
            std::fprintf(stderr, "replay: no such input: %s\n", argv[i]);
            return 2;
        }
        for (const auto &path : inputs_of(argv[i])) {
            std::ifstream file(path, std::ios::binary);
            const std::vector<uint8_t> data((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
            // A copy of exactly the input's size: a read past it is a sanitizer error.
            std::vector<uint8_t> exact(data);
            LLVMFuzzerTestOneInput(exact.empty() ? nullptr : exact.data(), exact.size());
            ++replayed;
        }
    }
    std::fprintf(stderr, "replay: %zu inputs, no failure\n", replayed);
    // A corpus that went missing must not pass as replayed.
    return replayed > 0 ? 0 : 2;
}
