#include "Memory.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

namespace drivesim {

namespace flash {

std::uint32_t sectorStart(int i) {
    if (i <= 4) return kBase + static_cast<std::uint32_t>(i) * 0x4000u;
    return kBase + 0x20000u * static_cast<std::uint32_t>(i - 4);
}

std::uint32_t sectorSize(int i) {
    if (i < 4) return 0x4000u;
    if (i == 4) return 0x10000u;
    return 0x20000u;
}

std::string withLengthStamp(std::string image) {
    if (image.size() < kMinApplication) return image;
    std::string digits = std::to_string(image.size());
    if (kLengthField + digits.size() + 1 > image.size()) return image;
    std::copy(digits.begin(), digits.end(), image.begin() + kLengthField);
    image[kLengthField + digits.size()] = '\0';
    return image;
}

}  // namespace flash

Memory::Memory() : ee_(ee::kSize, 0xFF), flash_(flash::kSize, 0xFF) { factoryReset("38000075"); }

void Memory::factoryReset(const std::string& partNumber) {
    std::fill(ee_.begin(), ee_.end(), 0xFF);
    setPartNumber(partNumber);
    setModeWord(ee::kModeApplication);
    // Bootloader in sectors 0..1, an old application above: a pattern with
    // no 0xFF byte so that programming without an erase fails.
    for (std::size_t i = 0; i < flash_.size(); ++i)
        flash_[i] = static_cast<std::uint8_t>((i * 7 + (i >> 9)) % 255);
    // The old application is whole: 64 KiB by its own length field.
    const std::string length = "65536";
    std::size_t at = flash::kApplicationBase - flash::kBase + flash::kLengthField;
    std::copy(length.begin(), length.end(), flash_.begin() + static_cast<long>(at));
    flash_[at + length.size()] = 0;
}

bool Memory::applicationValid(std::string* why) const {
    auto no = [&](const std::string& reason) {
        if (why) *why = reason;
        return false;
    };
    const std::size_t base = flash::kApplicationBase - flash::kBase;
    std::size_t length = 0;
    std::size_t i = base + flash::kLengthField;
    for (; i < base + flash::kLengthField + 8 && flash_[i] >= '0' && flash_[i] <= '9'; ++i)
        length = length * 10 + (flash_[i] - '0');
    if (i == base + flash::kLengthField || flash_[i] != 0) return no("no application length (erased?)");
    if (length < flash::kMinApplication || length > flash_.size() - base)
        return no("application length " + std::to_string(length) + " out of range");
    for (std::size_t b = 0; b < length; b += 128) {
        const std::size_t n = std::min<std::size_t>(128, length - b);
        bool erased = true;
        for (std::size_t k = 0; k < n && erased; ++k) erased = flash_[base + b + k] == 0xFF;
        if (erased) return no("application block " + std::to_string(b / 128 + 1) + " of " +
                              std::to_string((length + 127) / 128) + " is erased");
    }
    return true;
}

std::uint16_t Memory::modeWord() const {
    return static_cast<std::uint16_t>((ee_[ee::kModeWord] << 8) | ee_[ee::kModeWord + 1]);
}

void Memory::setModeWord(std::uint16_t w) {
    ee_[ee::kModeWord] = static_cast<std::uint8_t>(w >> 8);
    ee_[ee::kModeWord + 1] = static_cast<std::uint8_t>(w & 0xFF);
}

void Memory::setPartNumber(const std::string& pn) {
    for (std::size_t i = 0; i < 9; ++i)
        ee_[ee::kPartNumber + i] = i < pn.size() && i < 8 ? static_cast<std::uint8_t>(pn[i]) : 0;
}

bool Memory::writeEe(std::uint32_t address, const std::uint8_t* data, std::size_t n) {
    if (address > ee_.size() || n > ee_.size() - address) return false;
    std::memcpy(ee_.data() + address, data, n);
    return true;
}

bool Memory::programFlash(std::uint32_t address, const std::uint8_t* data, std::size_t n) {
    if (address < flash::kBase) return false;
    std::size_t off = address - flash::kBase;
    if (off > flash_.size() || n > flash_.size() - off) return false;
    for (std::size_t i = 0; i < n; ++i)
        if (flash_[off + i] != 0xFF) return false;
    std::memcpy(flash_.data() + off, data, n);
    return true;
}

bool Memory::eraseSectors(int first, int last) {
    if (first < 0 || last >= flash::kSectors || first > last) return false;
    for (int s = first; s <= last; ++s) {
        std::size_t off = flash::sectorStart(s) - flash::kBase;
        std::fill(flash_.begin() + static_cast<long>(off),
                  flash_.begin() + static_cast<long>(off + flash::sectorSize(s)), 0xFF);
    }
    return true;
}

namespace {

bool readFile(const std::string& path, std::vector<std::uint8_t>* out, std::string* error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        if (error) *error = "cannot open " + path;
        return false;
    }
    out->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (in.bad()) {
        if (error) *error = "cannot read " + path;
        return false;
    }
    return true;
}

bool writeFile(const std::string& path, const std::vector<std::uint8_t>& data, std::string* error) {
    std::string tmp = path + ".tmp";
    {
        std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
        if (!out) {
            if (error) *error = "cannot create " + tmp;
            return false;
        }
        out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
        if (!out) {
            if (error) *error = "cannot write " + tmp;
            return false;
        }
    }
    if (std::rename(tmp.c_str(), path.c_str()) != 0) {
        if (error) *error = "cannot rename " + tmp + " to " + path;
        std::remove(tmp.c_str());
        return false;
    }
    return true;
}

}  // namespace

bool Memory::loadEe(const std::string& path, std::string* error) {
    std::vector<std::uint8_t> data;
    if (!readFile(path, &data, error)) return false;
    if (data.size() > ee_.size()) {
        if (error) *error = path + " is larger than the EE (" + std::to_string(ee_.size()) + " bytes)";
        return false;
    }
    std::copy(data.begin(), data.end(), ee_.begin());
    return true;
}

bool Memory::saveEe(const std::string& path, std::string* error) const { return writeFile(path, ee_, error); }

bool Memory::loadFlash(const std::string& path, std::string* error) {
    std::vector<std::uint8_t> data;
    if (!readFile(path, &data, error)) return false;
    if (data.size() > flash_.size()) {
        if (error) *error = path + " is larger than the flash (" + std::to_string(flash_.size()) + " bytes)";
        return false;
    }
    std::copy(data.begin(), data.end(), flash_.begin());
    return true;
}

bool Memory::saveFlash(const std::string& path, std::string* error) const {
    return writeFile(path, flash_, error);
}

}  // namespace drivesim
