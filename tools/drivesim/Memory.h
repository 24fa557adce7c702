// The drive's non-volatile memories as the bootloader sees them: the EE
// (EEPROM, byte-addressed from 0) and the flash (STM32F4-style sectors from
// 0x08000000). Contents can be loaded from and saved to raw image files.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace drivesim {

namespace ee {
constexpr std::size_t kSize = 8192;
constexpr std::uint32_t kPartNumber = 153;  // 8 ASCII bytes
constexpr std::uint32_t kModeWord = 0x600;  // 2 bytes: 00 65 start the application, 00 81 stay in boot
constexpr std::uint16_t kModeApplication = 0x0065;
constexpr std::uint16_t kModeDownloading = 0x0081;
}  // namespace ee

namespace flash {
constexpr std::uint32_t kBase = 0x08000000;
constexpr std::size_t kSize = 1024 * 1024;
constexpr int kSectors = 12;
// First address of sector i (0..11) and its size: 4 x 16 KiB, 64 KiB, 7 x 128 KiB.
std::uint32_t sectorStart(int i);
std::uint32_t sectorSize(int i);
// The application starts at sector 2. Its image carries its own length as
// decimal ASCII digits ending in a NUL at offset kLengthField; the bootloader
// starts it only when that length is plausible and no 128-byte block of the
// image is still erased, so an erased or partly written application keeps
// the drive in its bootloader whatever the mode word says.
constexpr std::uint32_t kApplicationBase = 0x08008000;
constexpr std::uint32_t kLengthField = 0x20;
constexpr std::uint32_t kMinApplication = kLengthField + 2;
// `image` with its length written into its length field (images shorter
// than kMinApplication are returned unchanged: no drive would start them).
std::string withLengthStamp(std::string image);
}  // namespace flash

class Memory {
public:
    Memory();

    // Factory state: EE erased (0xFF) with the part number at 153 and the
    // mode word 0065; flash holding an "old" application (no byte 0xFF in
    // sectors 2..11, so writing there needs an erase first).
    void factoryReset(const std::string& partNumber);

    std::vector<std::uint8_t>& ee() { return ee_; }
    const std::vector<std::uint8_t>& ee() const { return ee_; }
    std::vector<std::uint8_t>& flashBytes() { return flash_; }
    const std::vector<std::uint8_t>& flashBytes() const { return flash_; }

    std::uint16_t modeWord() const;
    void setModeWord(std::uint16_t w);
    void setPartNumber(const std::string& pn);

    // EE writes; false when out of range.
    bool writeEe(std::uint32_t address, const std::uint8_t* data, std::size_t n);
    // Flash programming: false when out of range or when a target byte is not
    // erased (0xFF), as real flash refuses to program over old data.
    bool programFlash(std::uint32_t address, const std::uint8_t* data, std::size_t n);
    // Erases sectors first..last (inclusive); false for a bad range.
    bool eraseSectors(int first, int last);
    // The application in flash is whole (see flash::kLengthField); `why`
    // gets the reason when it is not.
    bool applicationValid(std::string* why = nullptr) const;

    // Raw image files: the EE file is the EE from address 0 (a shorter file
    // fills the start, the rest stays as it is); the flash file is the flash
    // from 0x08000000. Errors go to `*error`.
    bool loadEe(const std::string& path, std::string* error);
    bool saveEe(const std::string& path, std::string* error) const;
    bool loadFlash(const std::string& path, std::string* error);
    bool saveFlash(const std::string& path, std::string* error) const;

private:
    std::vector<std::uint8_t> ee_;
    std::vector<std::uint8_t> flash_;
};

}  // namespace drivesim
