// Fuzz-style robustness of Book::load: many damaged workbooks (bits flipped,
// bytes overwritten, cut short, random data) must each give true or false,
// never a crash or a hang; false comes with a reason, true with a book whose
// every cell can be read.
//
// Iterations per seed file: WORKBOOK_FUZZ_ITERATIONS (default 300); the
// random generator's seed: WORKBOOK_FUZZ_SEED. Run it with many more under
// AddressSanitizer (see tests/catalogue/workbook.cmake).
#include "test_workbook_util.h"

#include "CompoundFile.h"

#include <chrono>
#include <random>

using namespace wbtest;

namespace {

unsigned seed() {
    const char* e = std::getenv("WORKBOOK_FUZZ_SEED");
    return e ? static_cast<unsigned>(std::strtoul(e, nullptr, 10)) : 20240611u;
}

int iterations() {
    const char* e = std::getenv("WORKBOOK_FUZZ_ITERATIONS");
    int n = e ? std::atoi(e) : 0;
    return n > 0 ? n : 300;
}

// Loads `path`; checks the contract; returns true when the load succeeded.
bool loadAndTouch(const std::string& path, const std::string& what) {
    const auto t0 = std::chrono::steady_clock::now();
    BookPtr book;
    bool ok = book->load(W(path).c_str());
    if (!ok) {
        EXPECT_STRNE(book->errorMessage(), "") << what;
    } else {
        for (int i = 0; i < book->sheetCount(); ++i) {
            xls::Sheet* s = book->getSheet(i);
            EXPECT_NE(s->name(), nullptr);
            EXPECT_LE(s->lastRow(), 65536);
            EXPECT_LE(s->lastCol(), 256);
            for (int r = 0; r < s->lastRow(); ++r)
                for (int c = 0; c < s->lastCol(); ++c) {
                    if (const wchar_t* t = s->readStr(r, c)) (void)std::wcslen(t);
                    (void)s->readNum(r, c);
                    (void)s->readBool(r, c);
                }
        }
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    EXPECT_LT(seconds, 10.0) << what << ": load took too long";
    return ok;
}

struct Seed {
    std::string name;
    std::vector<std::uint8_t> bytes;
};

std::vector<Seed> seeds(const TempDir& dir) {
    std::vector<Seed> out;
    auto ours = [&](const std::string& name, int rows, int sheets) {
        const std::string p = dir.file(name);
        BookPtr book;
        for (int s = 0; s < sheets; ++s) {
            xls::Sheet* sh = book->addSheet((L"S" + std::to_wstring(s)).c_str());
            for (int r = 0; r < rows; ++r) {
                sh->writeStr(r, 0, (L"文本 text " + std::to_wstring(r % 50)).c_str());
                sh->writeNum(r, 1, r);
                sh->writeNum(r, 2, r * 0.1);
                sh->writeBool(r, 3, r % 2);
            }
        }
        EXPECT_TRUE(book->save(W(p).c_str()));
        out.push_back({name, readBytes(p)});
    };
    ours("small.xls", 3, 1);    // mini stream
    ours("medium.xls", 400, 2);  // regular sectors
    std::string log;
    const std::string x = dir.file("xlwt.xls");
    if (runScript("xlwt mixed " + quote(x), log)) out.push_back({"xlwt.xls", readBytes(x)});
    else ADD_FAILURE() << "xlwt failed";
    return out;
}

// The workbook stream of `file`, damaged record-wise, in a new container:
// kind 5 changes bytes inside one record, kind 6 gives one record another
// length, kind 7 repeats or drops a record. So the damage reaches FreeXL.
std::vector<std::uint8_t> mutateRecords(const std::vector<std::uint8_t>& file, int kind, std::mt19937& rng) {
    std::vector<std::uint8_t> stream, out;
    std::string error;
    if (!xls::cfb::readWorkbookStream(file.data(), file.size(), stream, error)) return file;
    std::vector<std::size_t> recs;  // record positions
    for (std::size_t p = 0; p + 4 <= stream.size();) {
        recs.push_back(p);
        p += 4 + (stream[p + 2] | (stream[p + 3] << 8));
    }
    for (int n = 1 + static_cast<int>(rng() % 3); n > 0 && !recs.empty(); --n) {
        const std::size_t p = recs[rng() % recs.size()];
        if (p + 4 > stream.size()) continue;
        const std::size_t len = stream[p + 2] | (stream[p + 3] << 8);
        if (kind == 5 && len > 0 && p + 4 + len <= stream.size()) {
            for (int k = 1 + static_cast<int>(rng() % 4); k > 0; --k) {
                static const std::uint8_t v[] = {0x00, 0xFF, 0x7F, 0x80, 0xFE, 0x01, 0x08, 0x0C};
                stream[p + 4 + rng() % len] = rng() % 2 ? v[rng() % sizeof v] : static_cast<std::uint8_t>(rng());
            }
        } else if (kind == 6) {
            const std::size_t l = rng() % 3 == 0 ? rng() % 65536 : (len + rng() % 16 - 8) & 0xFFFF;
            stream[p + 2] = l & 0xFF;
            stream[p + 3] = (l >> 8) & 0xFF;
        } else if (kind == 7 && p + 4 + len <= stream.size()) {
            std::vector<std::uint8_t> r(stream.begin() + static_cast<long>(p), stream.begin() + static_cast<long>(p + 4 + len));
            if (rng() % 2) stream.insert(stream.begin() + static_cast<long>(p), r.begin(), r.end());
            else stream.erase(stream.begin() + static_cast<long>(p), stream.begin() + static_cast<long>(p + 4 + len));
        }
    }
    if (stream.empty()) return file;
    xls::cfb::buildWorkbookFile(stream, out);
    return out;
}

}  // namespace

TEST(WorkbookFuzz, MutatedWorkbooksNeverCrash) {
    TempDir dir;
    const int n = iterations();
    std::mt19937 rng(seed());
    const std::string path = dir.file("fuzz.xls");
    for (const Seed& seed : seeds(dir)) {
        ASSERT_TRUE(loadAndTouch(dir.file(seed.name), seed.name)) << "the seed itself must load";
        int loaded = 0;
        for (int i = 0; i < n; ++i) {
            std::vector<std::uint8_t> f = seed.bytes;
            const int kind = static_cast<int>(rng() % 8);
            const std::size_t size = f.size();
            auto at = [&](std::size_t lo) { return lo + rng() % (size - lo); };
            switch (kind) {
            case 0:  // flip a few bits anywhere
                for (int k = 1 + static_cast<int>(rng() % 8); k > 0; --k) f[at(0)] ^= static_cast<std::uint8_t>(1u << (rng() % 8));
                break;
            case 1:  // flip bits in the sectors only (the container header stays good)
                for (int k = 1 + static_cast<int>(rng() % 8); k > 0; --k) f[at(512)] ^= static_cast<std::uint8_t>(1u << (rng() % 8));
                break;
            case 2:  // overwrite a few bytes with extreme values (lengths, counts, indices)
                for (int k = 1 + static_cast<int>(rng() % 4); k > 0; --k) {
                    static const std::uint8_t v[] = {0x00, 0xFF, 0x7F, 0x80, 0xFE, 0x01, 0x20};
                    f[at(0)] = v[rng() % sizeof v];
                }
                break;
            case 3:  // cut short, and maybe flip a bit
                f.resize(rng() % size);
                if (!f.empty() && rng() % 2) f[rng() % f.size()] ^= 0x10;
                break;
            case 4: {  // copy a block of bytes over another place
                std::size_t len = 1 + rng() % 64, from = at(0), to = at(0);
                for (std::size_t k = 0; k < len && from + k < size && to + k < size; ++k) f[to + k] = f[from + k];
                break;
            }
            default:  // damage the BIFF records inside a sound container
                f = mutateRecords(seed.bytes, kind, rng);
                break;
            }
            writeBytes(path, f);
            if (loadAndTouch(path, seed.name + " iteration " + std::to_string(i) + " kind " + std::to_string(kind)))
                ++loaded;
            if (HasFailure()) return;
        }
        std::printf("[          ] %s: %d of %d mutated files loaded, the rest refused\n", seed.name.c_str(), loaded, n);
    }
}

TEST(WorkbookFuzz, RandomBytes) {
    TempDir dir;
    std::mt19937 rng(seed() + 7);
    const std::string path = dir.file("random.xls");
    const std::uint8_t sig[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    for (int i = 0; i < iterations(); ++i) {
        std::vector<std::uint8_t> f(rng() % 20000);
        for (auto& b : f) b = static_cast<std::uint8_t>(rng());
        if (i % 2 && f.size() >= 512) {  // a compound-file signature and plausible header fields
            std::copy(sig, sig + 8, f.begin());
            f[0x1A] = 3;
            f[0x1B] = 0;
            f[0x1C] = 0xFE;
            f[0x1D] = 0xFF;
            f[0x1E] = 9;
            f[0x1F] = 0;
            f[0x20] = 6;
            f[0x21] = 0;
            f[0x2C] = 1;
            f[0x2D] = f[0x2E] = f[0x2F] = 0;
            f[0x38] = 0;
            f[0x39] = 0x10;
            f[0x3A] = f[0x3B] = 0;
        }
        writeBytes(path, f);
        BookPtr book;
        EXPECT_FALSE(book->load(W(path).c_str())) << "random file " << i;
        EXPECT_STRNE(book->errorMessage(), "");
    }
}
