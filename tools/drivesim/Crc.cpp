#include "Crc.h"

namespace drivesim {

std::uint16_t crc16Modbus(const std::uint8_t* data, std::size_t length) {
    std::uint16_t crc = 0xFFFF;
    for (std::size_t i = 0; i < length; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit) {
            if (crc & 1u)
                crc = static_cast<std::uint16_t>((crc >> 1) ^ 0xA001u);
            else
                crc = static_cast<std::uint16_t>(crc >> 1);
        }
    }
    return crc;
}

std::uint16_t crc16Xmodem(const std::uint8_t* data, std::size_t length) {
    std::uint16_t crc = 0;
    for (std::size_t i = 0; i < length; ++i) {
        crc ^= static_cast<std::uint16_t>(data[i] << 8);
        for (int bit = 0; bit < 8; ++bit) {
            if (crc & 0x8000u)
                crc = static_cast<std::uint16_t>((crc << 1) ^ 0x1021u);
            else
                crc = static_cast<std::uint16_t>(crc << 1);
        }
    }
    return crc;
}

std::vector<std::uint8_t> xmodemWireImage(const std::vector<std::uint8_t>& image) {
    std::vector<std::uint8_t> out(image);
    out.resize((image.size() + 127) / 128 * 128, 0x00);
    for (std::size_t b = 0; b < out.size(); b += 128) {
        if (crc16Xmodem(out.data() + b, 128) == 0 && out[b + 127] == 0x00) out[b + 127] = 0x1A;
    }
    return out;
}

}  // namespace drivesim
