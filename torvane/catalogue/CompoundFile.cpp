// The compound-file container of an .xls workbook: see CompoundFile.h.
//
// Layout reminders ([MS-CFB]): a 512-byte header, then sectors; sector n
// starts at (n + 1) * sector size. The FAT chains sectors (ENDOFCHAIN ends a
// chain); the header lists the first 109 FAT sectors and DIFAT sectors list
// the rest (127 entries and a link each). The directory is a chain of 128-byte
// entries; entry 0 is the root, whose chain is the mini stream that holds the
// streams shorter than the cutoff in 64-byte mini sectors chained by the mini
// FAT.
#include "CompoundFile.h"

#include <algorithm>
#include <cstring>

namespace xls::cfb {

namespace {

constexpr std::uint32_t kFreeSect = 0xFFFFFFFFu;
constexpr std::uint32_t kEndOfChain = 0xFFFFFFFEu;
constexpr std::uint32_t kFatSect = 0xFFFFFFFDu;
constexpr std::uint32_t kDifSect = 0xFFFFFFFCu;
constexpr std::uint32_t kNoStream = 0xFFFFFFFFu;

constexpr std::size_t kHeaderSize = 512;
constexpr std::size_t kDirEntrySize = 128;
constexpr std::size_t kMiniSectorSize = 64;
constexpr std::size_t kHeaderDifatEntries = 109;

const std::uint8_t kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};

std::uint16_t get16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
std::uint32_t get32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
void put16(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}
void put32(std::uint8_t* p, std::uint32_t v) {
    put16(p, v);
    put16(p + 2, v >> 16);
}

std::size_t ceilDiv(std::size_t a, std::size_t b) { return (a + b - 1) / b; }

// Writes one directory entry. `name` is ASCII.
void putDirEntry(std::uint8_t* e, const char* name, std::uint8_t type, std::uint32_t child, std::uint32_t start,
                 std::uint32_t size) {
    std::size_t n = std::strlen(name);
    for (std::size_t i = 0; i < n; ++i) put16(e + 2 * i, static_cast<std::uint8_t>(name[i]));
    put16(e + 64, static_cast<std::uint32_t>((n + 1) * 2));
    e[66] = type;
    e[67] = 1;  // black
    put32(e + 68, kNoStream);
    put32(e + 72, kNoStream);
    put32(e + 76, child);
    put32(e + 116, start);
    put32(e + 120, size);
}

void putEmptyDirEntry(std::uint8_t* e) {
    put32(e + 68, kNoStream);
    put32(e + 72, kNoStream);
    put32(e + 76, kNoStream);
}

}  // namespace

void buildContainer(std::size_t size, std::vector<std::uint8_t>& head, std::vector<std::uint8_t>& tail) {
    constexpr std::size_t ss = 512;
    constexpr std::size_t perFat = ss / 4;  // FAT entries per FAT sector
    const bool mini = size < kMiniStreamCutoff;

    // Sectors in file order: data (the stream, or the mini stream that holds
    // it), mini FAT, directory (one sector, four entries), FAT, DIFAT.
    std::size_t miniSectors = 0, miniFatSectors = 0, dataSectors;
    if (mini) {
        miniSectors = ceilDiv(size, kMiniSectorSize);
        miniFatSectors = ceilDiv(miniSectors, perFat);
        dataSectors = ceilDiv(miniSectors * kMiniSectorSize, ss);
    } else {
        dataSectors = ceilDiv(size, ss);
    }
    const std::size_t fixedSectors = dataSectors + miniFatSectors + 1;
    std::size_t fatSectors = 0, difatSectors = 0;
    for (;;) {
        std::size_t total = fixedSectors + fatSectors + difatSectors;
        std::size_t f = ceilDiv(total, perFat);
        std::size_t d = f > kHeaderDifatEntries ? ceilDiv(f - kHeaderDifatEntries, perFat - 1) : 0;
        if (f == fatSectors && d == difatSectors) break;
        fatSectors = f;
        difatSectors = d;
    }
    const std::size_t total = fixedSectors + fatSectors + difatSectors;
    const std::uint32_t firstMiniFat = static_cast<std::uint32_t>(dataSectors);
    const std::uint32_t dirSector = static_cast<std::uint32_t>(dataSectors + miniFatSectors);
    const std::uint32_t firstFat = dirSector + 1;
    const std::uint32_t firstDifat = static_cast<std::uint32_t>(firstFat + fatSectors);

    // The tail starts with the padding of the last data sector.
    const std::size_t padding = dataSectors * ss - size;
    head.assign(kHeaderSize, 0);
    tail.assign(padding + (total - dataSectors) * ss, 0);
    auto sector = [&](std::size_t n) { return tail.data() + padding + (n - dataSectors) * ss; };

    // Header.
    std::uint8_t* h = head.data();
    std::memcpy(h, kSignature, 8);
    put16(h + 0x18, 0x003E);  // minor version
    put16(h + 0x1A, 0x0003);  // major version 3: 512-byte sectors
    put16(h + 0x1C, 0xFFFE);  // little-endian
    put16(h + 0x1E, 9);       // sector shift
    put16(h + 0x20, 6);       // mini sector shift
    put32(h + 0x2C, static_cast<std::uint32_t>(fatSectors));
    put32(h + 0x30, dirSector);
    put32(h + 0x38, static_cast<std::uint32_t>(kMiniStreamCutoff));
    put32(h + 0x3C, mini ? firstMiniFat : kEndOfChain);
    put32(h + 0x40, static_cast<std::uint32_t>(miniFatSectors));
    put32(h + 0x44, difatSectors ? firstDifat : kEndOfChain);
    put32(h + 0x48, static_cast<std::uint32_t>(difatSectors));
    for (std::size_t i = 0; i < kHeaderDifatEntries; ++i)
        put32(h + 0x4C + 4 * i, i < fatSectors ? static_cast<std::uint32_t>(firstFat + i) : kFreeSect);

    // Mini FAT: one chain over mini sectors 0 .. miniSectors-1 (the mini
    // stream is the stream itself, padded to whole mini sectors).
    if (mini) {
        std::uint8_t* mf = sector(firstMiniFat);
        for (std::size_t i = 0; i < miniFatSectors * perFat; ++i) {
            std::uint32_t v = kFreeSect;
            if (i + 1 < miniSectors) v = static_cast<std::uint32_t>(i + 1);
            else if (i + 1 == miniSectors) v = kEndOfChain;
            put32(mf + 4 * i, v);
        }
    }

    // Directory: root entry, the workbook stream, two unused entries.
    std::uint8_t* dir = sector(dirSector);
    const bool hasMini = mini && size > 0;
    putDirEntry(dir, "Root Entry", 5, 1, hasMini ? 0 : kEndOfChain,
                hasMini ? static_cast<std::uint32_t>(miniSectors * kMiniSectorSize) : 0);
    putDirEntry(dir + kDirEntrySize, "Workbook", 2, kNoStream, size ? 0 : kEndOfChain,
                static_cast<std::uint32_t>(size));
    putEmptyDirEntry(dir + 2 * kDirEntrySize);
    putEmptyDirEntry(dir + 3 * kDirEntrySize);

    // FAT.
    std::uint8_t* fat = sector(firstFat);  // the FAT sectors are contiguous
    auto setFat = [&](std::size_t i, std::uint32_t v) { put32(fat + 4 * i, v); };
    auto chain = [&](std::size_t first, std::size_t count) {
        for (std::size_t i = 0; i < count; ++i)
            setFat(first + i, i + 1 < count ? static_cast<std::uint32_t>(first + i + 1) : kEndOfChain);
    };
    for (std::size_t i = 0; i < fatSectors * perFat; ++i) setFat(i, kFreeSect);
    chain(0, dataSectors);
    chain(firstMiniFat, miniFatSectors);
    chain(dirSector, 1);
    for (std::size_t i = 0; i < fatSectors; ++i) setFat(firstFat + i, kFatSect);
    for (std::size_t i = 0; i < difatSectors; ++i) setFat(firstDifat + i, kDifSect);

    // DIFAT sectors: 127 FAT sector numbers each, then the next DIFAT sector.
    for (std::size_t d = 0; d < difatSectors; ++d) {
        std::uint8_t* p = sector(firstDifat + d);
        for (std::size_t i = 0; i < perFat - 1; ++i) {
            std::size_t f = kHeaderDifatEntries + d * (perFat - 1) + i;
            put32(p + 4 * i, f < fatSectors ? static_cast<std::uint32_t>(firstFat + f) : kFreeSect);
        }
        put32(p + 4 * (perFat - 1), d + 1 < difatSectors ? static_cast<std::uint32_t>(firstDifat + d + 1) : kEndOfChain);
    }
}

void buildWorkbookFile(const std::vector<std::uint8_t>& stream, std::vector<std::uint8_t>& out) {
    std::vector<std::uint8_t> head, tail;
    buildContainer(stream.size(), head, tail);
    out = head;
    out.insert(out.end(), stream.begin(), stream.end());
    out.insert(out.end(), tail.begin(), tail.end());
}

namespace {

class Reader {
public:
    Reader(const std::uint8_t* data, std::size_t size, std::string& error) : data_(data), size_(size), error_(error) {}

    bool read(std::vector<std::uint8_t>& stream) {
        if (!readHeader() || !readFat()) return false;

        // Directory.
        std::vector<std::uint32_t> dirChain;
        if (!followChain(get32(data_ + 0x30), dirChain, "directory")) return false;
        if (dirChain.empty()) return fail("the directory is empty");
        const std::size_t perSector = sectorSize_ / kDirEntrySize;
        const std::size_t entries = dirChain.size() * perSector;
        auto entry = [&](std::size_t i) { return sectorData(dirChain[i / perSector]) + (i % perSector) * kDirEntrySize; };
        const std::uint8_t* root = entry(0);
        if (root[66] != 5) return fail("the first directory entry is not the root");

        // Mini stream and mini FAT, checked whenever present.
        if (!followChain(get32(root + 116), miniStreamChain_, "mini stream")) return false;
        miniStreamSize_ = entrySize(root);
        if (miniStreamSize_ > miniStreamChain_.size() * sectorSize_) return fail("the mini stream is cut short");
        std::vector<std::uint32_t> miniFatChain;
        if (!followChain(get32(data_ + 0x3C), miniFatChain, "mini FAT")) return false;
        miniFat_.clear();
        miniFat_.reserve(miniFatChain.size() * (sectorSize_ / 4));
        for (std::uint32_t s : miniFatChain) {
            const std::uint8_t* p = sectorData(s);
            for (std::size_t i = 0; i < sectorSize_ / 4; ++i) miniFat_.push_back(get32(p + 4 * i));
        }

        // The workbook stream: "Workbook" (BIFF8), else "Book" (BIFF5).
        const std::uint8_t* found = nullptr;
        for (const char* want : {"Workbook", "Book"}) {
            for (std::size_t i = 1; i < entries && !found; ++i) {
                const std::uint8_t* e = entry(i);
                if (e[66] == 2 && nameIs(e, want)) found = e;
            }
            if (found) break;
        }
        if (!found) return fail("the file holds no workbook stream");
        const std::uint64_t size = entrySize(found);
        if (size == 0) return fail("the workbook stream is empty");
        if (size > size_) return fail("the workbook stream is larger than the file");
        stream.resize(static_cast<std::size_t>(size));
        return size < cutoff_ ? readMini(get32(found + 116), stream) : readRegular(get32(found + 116), stream);
    }

private:
    bool fail(const char* why) {
        error_ = why;
        return false;
    }

    const std::uint8_t* sectorData(std::uint32_t s) const { return data_ + (static_cast<std::size_t>(s) + 1) * sectorSize_; }

    std::uint64_t entrySize(const std::uint8_t* e) const {
        std::uint64_t low = get32(e + 120);
        if (major_ == 3) return low;  // the high half is undefined in version 3
        return low | (static_cast<std::uint64_t>(get32(e + 124)) << 32);
    }

    static bool nameIs(const std::uint8_t* e, const char* want) {
        std::size_t bytes = get16(e + 64);
        std::size_t n = std::strlen(want);
        if (bytes != (n + 1) * 2) return false;
        for (std::size_t i = 0; i < n; ++i) {
            std::uint16_t c = get16(e + 2 * i);
            if (c >= 'a' && c <= 'z') c = static_cast<std::uint16_t>(c - 'a' + 'A');
            char w = want[i];
            if (w >= 'a' && w <= 'z') w = static_cast<char>(w - 'a' + 'A');
            if (c != static_cast<std::uint8_t>(w)) return false;
        }
        return true;
    }

    bool readHeader() {
        if (size_ < kHeaderSize) return fail("the file is too short to be a workbook");
        if (std::memcmp(data_, kSignature, 8) != 0) return fail("the file is not a compound file (.xls)");
        if (get16(data_ + 0x1C) != 0xFFFE) return fail("the compound file header has a wrong byte order mark");
        major_ = get16(data_ + 0x1A);
        const std::uint16_t shift = get16(data_ + 0x1E);
        if (!((major_ == 3 && shift == 9) || (major_ == 4 && shift == 12)))
            return fail("the compound file header has an unsupported version or sector size");
        if (get16(data_ + 0x20) != 6) return fail("the compound file header has a wrong mini sector size");
        cutoff_ = get32(data_ + 0x38);
        if (cutoff_ != kMiniStreamCutoff) return fail("the compound file header has a wrong mini stream cutoff");
        sectorSize_ = std::size_t{1} << shift;
        if (size_ < sectorSize_) return fail("the file is too short to be a workbook");
        sectorCount_ = size_ / sectorSize_ - 1;  // whole sectors after the header
        return true;
    }

    bool readFat() {
        const std::uint32_t fatSectors = get32(data_ + 0x2C);
        if (fatSectors == 0 || fatSectors > sectorCount_) return fail("the compound file has a wrong FAT size");
        std::vector<std::uint32_t> fatList;
        fatList.reserve(fatSectors);
        for (std::size_t i = 0; i < kHeaderDifatEntries && fatList.size() < fatSectors; ++i)
            fatList.push_back(get32(data_ + 0x4C + 4 * i));
        // DIFAT sectors for the rest; a chain can visit at most sectorCount_ sectors.
        std::uint32_t d = get32(data_ + 0x44);
        const std::size_t per = sectorSize_ / 4 - 1;
        std::size_t visited = 0;
        while (fatList.size() < fatSectors) {
            if (d >= sectorCount_ || ++visited > sectorCount_) return fail("the compound file's DIFAT chain is broken");
            const std::uint8_t* p = sectorData(d);
            for (std::size_t i = 0; i < per && fatList.size() < fatSectors; ++i) fatList.push_back(get32(p + 4 * i));
            d = get32(p + 4 * per);
        }
        fat_.clear();
        fat_.reserve(fatList.size() * (sectorSize_ / 4));
        for (std::uint32_t s : fatList) {
            if (s >= sectorCount_) return fail("a FAT sector lies outside the file");
            const std::uint8_t* p = sectorData(s);
            for (std::size_t i = 0; i < sectorSize_ / 4; ++i) fat_.push_back(get32(p + 4 * i));
        }
        return true;
    }

    // Follows a FAT chain from `start` to its end. Every sector must be
    // inside the file and visited once. ENDOFCHAIN or FREESECT at the start
    // give an empty chain.
    bool followChain(std::uint32_t start, std::vector<std::uint32_t>& chain, const char* what) {
        chain.clear();
        if (start == kEndOfChain || start == kFreeSect) return true;
        if (visited_.size() != fat_.size()) visited_.assign(fat_.size(), 0);
        ++generation_;
        if (generation_ == 0) {  // wrapped: clear the marks
            std::fill(visited_.begin(), visited_.end(), 0);
            generation_ = 1;
        }
        std::uint32_t s = start;
        while (s != kEndOfChain) {
            if (s >= sectorCount_ || s >= fat_.size()) {
                error_ = std::string("the ") + what + " chain leaves the file";
                return false;
            }
            if (visited_[s] == generation_) {
                error_ = std::string("the ") + what + " chain loops";
                return false;
            }
            visited_[s] = generation_;
            chain.push_back(s);
            s = fat_[s];
        }
        return true;
    }

    bool readRegular(std::uint32_t start, std::vector<std::uint8_t>& out) {
        std::vector<std::uint32_t> chain;
        if (!followChain(start, chain, "workbook stream")) return false;
        if (chain.size() * sectorSize_ < out.size()) return fail("the workbook stream is cut short");
        std::size_t done = 0;
        for (std::uint32_t s : chain) {
            if (done == out.size()) break;
            std::size_t n = std::min(sectorSize_, out.size() - done);
            std::memcpy(out.data() + done, sectorData(s), n);
            done += n;
        }
        return true;
    }

    bool readMini(std::uint32_t start, std::vector<std::uint8_t>& out) {
        std::vector<std::uint8_t> seen(miniFat_.size(), 0);
        std::size_t done = 0;
        std::uint32_t s = start;
        while (done < out.size()) {
            if (s >= miniFat_.size() || (static_cast<std::size_t>(s) + 1) * kMiniSectorSize > miniStreamSize_)
                return fail("the workbook stream's mini sector chain leaves the mini stream");
            if (seen[s]) return fail("the workbook stream's mini sector chain loops");
            seen[s] = 1;
            std::size_t at = static_cast<std::size_t>(s) * kMiniSectorSize;  // offset in the mini stream
            const std::uint8_t* src = sectorData(miniStreamChain_[at / sectorSize_]) + at % sectorSize_;
            std::size_t n = std::min(kMiniSectorSize, out.size() - done);
            std::memcpy(out.data() + done, src, n);
            done += n;
            s = miniFat_[s];
        }
        return true;
    }

    const std::uint8_t* data_;
    std::size_t size_;
    std::string& error_;
    std::uint16_t major_ = 0;
    std::size_t sectorSize_ = 512;
    std::size_t sectorCount_ = 0;
    std::uint32_t cutoff_ = 0;
    std::vector<std::uint32_t> fat_;
    std::vector<std::uint32_t> visited_;
    std::uint32_t generation_ = 0;
    std::vector<std::uint32_t> miniStreamChain_;
    std::uint64_t miniStreamSize_ = 0;
    std::vector<std::uint32_t> miniFat_;
};

}  // namespace

bool readWorkbookStream(const std::uint8_t* data, std::size_t size, std::vector<std::uint8_t>& stream,
                        std::string& error) {
    return Reader(data, size, error).read(stream);
}

}  // namespace xls::cfb
