// Shared pieces of the fuzz targets: the per-process work folder, input
// files written into it, and the contract check that stops the run.
//
// Every target defines LLVMFuzzerTestOneInput; the same source is linked
// either with libFuzzer (long runs) or with ReplayMain.cpp (the regression
// replay of the seed corpus and of every crash found so far).
//
// The targets never change the working directory: libFuzzer reads and
// writes its corpus by the paths it was given. The protocol engines write
// their logs relative to it, so the runners start the targets in a scratch
// folder of the build tree.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace fuzzkit {

// A broken contract: prints what broke and traps, so that libFuzzer keeps
// the input as a crash and the replay test fails.
[[noreturn]] void Fail(const char* target, const std::string& what);

#define FUZZ_CHECK(target, cond, what)                                   \
    do {                                                                 \
        if (!(cond)) ::fuzzkit::Fail(target, std::string(#cond) + ": " + (what)); \
    } while (0)

// The process's own folder below $TMPDIR (or /tmp), made on first use and
// removed with everything in it when the process ends. Ends in "/".
const std::string& WorkDir();

// A sub-folder of WorkDir(), emptied (or made) on every call. Ends in "/".
std::string FreshDir(const std::string& name);

// Writes the bytes to WorkDir() + name (replacing it); returns the path.
std::string WriteInput(const std::string& name, const uint8_t* data, size_t size);

// Every entry below folder, one line each in name order: its relative
// name, "/" after a folder, " -> link" after a symbolic link, the size after
// a file. For the checks that nothing was written outside a folder. Entries
// whose relative name starts with `skip` are left out.
std::string TreeListing(const std::string& folder, const std::string& skip = std::string());

// Wide text of a UTF-8 path (the product's file functions take wide paths).
std::wstring Wide(const std::string& path);

// Reads the next byte of the input (0 when used up).
class Reader {
public:
    Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    bool empty() const { return pos_ >= size_; }
    size_t left() const { return size_ - pos_; }
    uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
    uint16_t word() { uint16_t hi = byte(); return static_cast<uint16_t>((hi << 8) | byte()); }
    // Up to n bytes; fewer when the input ends.
    std::string bytes(size_t n)
    {
        if (n > left()) n = left();
        std::string out(reinterpret_cast<const char*>(data_ + pos_), n);
        pos_ += n;
        return out;
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

}  // namespace fuzzkit

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
