// Configuration files: any bytes as the file that LinkCore's configuration
// functions (both syntaxes) and the program's private-profile functions
// read and write. The first input byte picks the names asked for and the
// reply buffer size; the rest is the file.
//
// Contracts: a reply fits its buffer with its terminating zero and nothing
// beyond the buffer is touched; "not found" gives the default; a key that
// was written reads back as written; writing one key leaves every other key
// (of the names below) as it read before.
#include "FuzzSupport.h"

#include "PrivateProfile.h"
#include "WSNConfig.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

const char* const kTarget = "fuzz_ini";

// Names that the seed files use, so that the fuzzer finds their lines.
const char* const kSections[] = {"COM", "protocolConfig", "Language", "VKR_M"};
const char* const kKeys[] = {"Serial", "Baud", "RawLogBufSize", "Type", "msg_show", "Download", "Language", "ModelPN"};

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// A LinkCore string read into a buffer of outSize bytes inside a larger one
// whose tail must stay untouched.
unsigned int ReadInto(bool plainIni, const char* section, const char* key, const char* def, unsigned int outSize,
                      const std::string& path, std::string& value)
{
    char buffer[600];
    std::memset(buffer, 0x5A, sizeof buffer);
    const unsigned int found =
        plainIni ? WSNGetPrivateProfileString2(section, key, def, buffer, outSize, path.c_str())
                 : WSNGetPrivateProfileString(section, key, def, buffer, outSize, path.c_str());
    for (size_t i = outSize; i < sizeof buffer; ++i)
        FUZZ_CHECK(kTarget, buffer[i] == 0x5A, "written beyond the reply buffer at " + std::to_string(i));
    FUZZ_CHECK(kTarget, std::memchr(buffer, 0, outSize) != nullptr, "reply without its terminating zero");
    value = buffer;
    FUZZ_CHECK(kTarget, found == 0 || found == 1, "found is " + std::to_string(found));
    if (found == 0) {
        const std::string cut = std::string(def).substr(0, outSize - 1);
        FUZZ_CHECK(kTarget, value == cut, "not found, yet the reply is not the default");
    }
    return found;
}

void LinkCoreFunctions(uint8_t pick, const uint8_t* file, size_t size)
{
    const char* section = kSections[pick & 3];
    const char* key = kKeys[(pick >> 2) & 7];
    const unsigned int outSize = 1u + ((pick >> 5) * 37u);  // 1 .. 260
    const std::string path = fuzzkit::WriteInput("SystemConfig.ini", file, size);

    std::string value;
    ReadInto(true, section, key, "dflt", outSize, path, value);
    ReadInto(false, section, key, "dflt", outSize, path, value);
    (void)WSNGetPrivateProfileInt2(section, key, 7, path.c_str());
    (void)WSNGetPrivateProfileInt(section, key, 7, path.c_str());

    // A write that succeeds is read back, and every other key reads as
    // before.
    std::vector<std::string> before;
    for (const char* sec : kSections)
        for (const char* k : kKeys) {
            std::string v;
            const unsigned int f = ReadInto(false, sec, k, "<none>", 512, path, v);
            before.push_back(std::to_string(f) + v);
        }
    const bool written = WSNWritePrivateProfileString(section, key, "v1 2", path.c_str());
    if (written) {
        std::string back;
        FUZZ_CHECK(kTarget, ReadInto(false, section, key, "", 512, path, back) == 1 && back == "v1 2",
                   "written key reads back as \"" + back + "\"");
        size_t i = 0;
        for (const char* sec : kSections)
            for (const char* k : kKeys) {
                std::string v;
                const unsigned int f = ReadInto(false, sec, k, "<none>", 512, path, v);
                if (!(sec == section && k == key))
                    FUZZ_CHECK(kTarget, std::to_string(f) + v == before[i],
                               std::string("writing ") + section + "/" + key + " changed " + sec + "/" + k);
                ++i;
            }
    }
    if (std::getenv("FUZZ_VERBOSE") != nullptr)
        std::printf("LinkCore: %s/%s written %d\n", section, key, written);
}

void ProgramFunctions(uint8_t pick, const uint8_t* file, size_t size)
{
    const std::wstring section = fuzzkit::Wide(kSections[pick & 3]);
    const std::wstring key = fuzzkit::Wide(kKeys[(pick >> 2) & 7]);
    const size_t capacity = 1u + (pick >> 5) * 9u;
    const std::string path = fuzzkit::WriteInput("config.ini", file, size);
    const std::wstring wpath = fuzzkit::Wide(path);

    const std::wstring got = PrivateProfileGetString(section, key, L"dflt", wpath, capacity);
    FUZZ_CHECK(kTarget, got.size() <= capacity - 1, "value longer than the buffer allows");
    (void)PrivateProfileGetInt(section, key, 3, wpath);

    std::vector<std::wstring> before;
    for (const char* sec : kSections)
        for (const char* k : kKeys)
            before.push_back(PrivateProfileGetString(fuzzkit::Wide(sec), fuzzkit::Wide(k), L"<none>", wpath));
    const std::string bytesBefore = ReadFile(path);
    const bool written = PrivateProfileWriteString(section, key, L"2,EVEN x", wpath);
    if (written) {
        FUZZ_CHECK(kTarget, PrivateProfileGetString(section, key, L"<none>", wpath) == L"2,EVEN x",
                   "written key does not read back");
        size_t i = 0;
        int kept = 0;
        for (const char* sec : kSections)
            for (const char* k : kKeys) {
                const std::wstring v = PrivateProfileGetString(fuzzkit::Wide(sec), fuzzkit::Wide(k), L"<none>", wpath);
                if (!(fuzzkit::Wide(sec) == section && fuzzkit::Wide(k) == key)) {
                    FUZZ_CHECK(kTarget, v == before[i], std::string("writing one key changed ") + sec + "/" + k);
                    kept += v != L"<none>";
                }
                ++i;
            }
        if (std::getenv("FUZZ_VERBOSE") != nullptr)
            std::printf("program: written, %d other keys kept\n", kept);
    } else {
        FUZZ_CHECK(kTarget, ReadFile(path) == bytesBefore, "a refused write changed the file");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const uint8_t pick = data[0];
    LinkCoreFunctions(pick, data + 1, size - 1);
    ProgramFunctions(pick, data + 1, size - 1);
    return 0;
}
