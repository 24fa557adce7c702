// Program packages: any archive bytes as the package file the download view
// opens. Each run opens it into a fresh program folder that sits inside a fresh
// run folder holding a file of its own next to it.
//
// Contracts: nothing outside the program folder changes (no entry escapes,
// whatever its name); nothing below it is a symbolic link; the working copy
// is gone afterwards; a failure says why; a refused entry fails the
// extraction.
#include "FuzzSupport.h"

#include "ModelCatalogue.h"
#include "ProgramPackage.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

const char* const kTarget = "fuzz_package";

int CountFiles(const std::string& folder)
{
    int n = 0;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code e2;
        const fs::file_status st = fs::symlink_status(it->path(), e2);
        FUZZ_CHECK(kTarget, !fs::is_symlink(st), "a symbolic link below the program folder: " + it->path().string());
        if (fs::is_regular_file(st))
            ++n;
    }
    return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // run/keep.txt        must stay as it is
    // run/in/ProgramFile.vkr   the package
    // run/app/Program/    the program folder: everything is written below it
    const std::string run = fuzzkit::FreshDir("run");
    {
        std::ofstream keep(run + "keep.txt", std::ios::binary);
        keep << "left alone\n";
        fs::create_directories(run + "in");
        fs::create_directories(run + "app");
    }
    // The input is the archive as it is before the package inversion, so
    // that the fuzzer's changes land on the archive's own structure; the
    // file the view opens is inverted from byte 32 on, as packages are.
    const std::string packagePath = run + "in/ProgramFile.vkr";
    {
        std::string bytes(reinterpret_cast<const char*>(data), size);
        for (size_t i = 32; i < bytes.size(); ++i)
            bytes[i] = static_cast<char>(~bytes[i]);
        std::ofstream out(packagePath, std::ios::binary);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    const std::string programFolder = run + "app/Program/";
    const std::string outsideBefore = fuzzkit::TreeListing(fuzzkit::WorkDir(), "run/app/Program");

    PackageOpenReport report;
    ModelCatalogue catalogue;
    const bool ok = OpenPackage(fuzzkit::Wide(packagePath), fuzzkit::Wide(programFolder), &report, &catalogue);

    if (std::getenv("FUZZ_VERBOSE") != nullptr) {
        std::printf("extracted %d, %d files, %zu refused, catalogue %d: %ls\n", ok, report.filesWritten,
                    report.refusedEntries.size(), report.catalogueLoaded, report.failure.c_str());
    }

    const std::string outsideAfter = fuzzkit::TreeListing(fuzzkit::WorkDir(), "run/app/Program");
    FUZZ_CHECK(kTarget, outsideAfter == outsideBefore,
               "written outside the program folder:\nbefore:\n" + outsideBefore + "after:\n" + outsideAfter);
    FUZZ_CHECK(kTarget, ok == report.extracted, "result and report disagree");
    FUZZ_CHECK(kTarget, ok || !report.failure.empty(), "a failed extraction without a reason");
    FUZZ_CHECK(kTarget, report.refusedEntries.empty() || !ok, "an entry was refused, yet the extraction succeeded");
    FUZZ_CHECK(kTarget, !fs::exists(programFolder + "temp.bin"), "the working copy was left behind");
    const int files = CountFiles(programFolder);
    FUZZ_CHECK(kTarget, report.filesWritten <= files,
               "reported " + std::to_string(report.filesWritten) + " files, found " + std::to_string(files));

    // Whatever was extracted can be removed again.
    FUZZ_CHECK(kTarget, RemoveExtracted(fuzzkit::Wide(programFolder)), "the extracted folder stays");
    return 0;
}
