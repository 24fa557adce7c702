// Replays inputs through a fuzz target without libFuzzer: every file of the
// folders (or the files) named on the command line, in name order. The
// normal build runs each target this way over its seed corpus and over the
// inputs that once broke it, so every crash found stays a regression test.
#include "FuzzSupport.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace fs = std::filesystem;

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) __attribute__((weak));

int main(int argc, char** argv)
{
    if (LLVMFuzzerInitialize != nullptr)
        LLVMFuzzerInitialize(&argc, &argv);
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i)
    {
        std::error_code ec;
        if (fs::is_directory(argv[i], ec))
        {
            for (fs::recursive_directory_iterator it(argv[i], ec), end; !ec && it != end; it.increment(ec))
                if (it->is_regular_file())
                    files.push_back(it->path().string());
        }
        else if (fs::is_regular_file(argv[i], ec))
            files.push_back(argv[i]);
        else if (!fs::exists(argv[i], ec))
        {
            // A target without regressions yet has no folder for them.
            std::printf("(no %s)\n", argv[i]);
        }
    }
    std::sort(files.begin(), files.end());
    if (files.empty())
    {
        std::fprintf(stderr, "no inputs to replay\n");
        return 1;
    }
    for (const std::string& f : files)
    {
        std::ifstream in(f, std::ios::binary);
        std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::printf("replay %s (%zu bytes)\n", f.c_str(), bytes.size());
        std::fflush(stdout);
        LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    }
    std::printf("%zu inputs replayed\n", files.size());
    return 0;
}
