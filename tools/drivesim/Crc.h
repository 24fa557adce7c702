// The two checksums the drive's protocols use, written here from the wire
// formats alone, independently of RegMaster and BlockPump.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace drivesim {

// CRC-16/MODBUS: reflected polynomial 0xA001, initial 0xFFFF, no final XOR.
// Sent low byte first. Check value for "123456789": 0x4B37.
std::uint16_t crc16Modbus(const std::uint8_t* data, std::size_t length);

// CRC-16/XMODEM: polynomial 0x1021, initial 0, MSB first, no reflection, no
// final XOR. Sent high byte first. Check value for "123456789": 0x31C3.
std::uint16_t crc16Xmodem(const std::uint8_t* data, std::size_t length);

// What an XMODEM-CRC sender puts on the wire for an image, block
// after block: the data padded with 0x00 to whole 128-byte blocks, and in
// each block whose CRC comes out 0x0000 while its last byte is 0x00 that
// last byte replaced by 0x1A (the zero-CRC rule). The bootloader stores what
// it receives, so this is what a download leaves in EE or flash; tests
// compare memory contents with it.
std::vector<std::uint8_t> xmodemWireImage(const std::vector<std::uint8_t>& image);

}  // namespace drivesim
