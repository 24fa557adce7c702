#include "DriveIdentity.h"

namespace driveid {

std::string SeriesText(uint16_t w0, uint16_t w1, uint16_t w2)
{
    std::string s;
    for (uint16_t w : {w0, w1, w2}) {
        for (uint8_t b : {static_cast<uint8_t>(w & 0xFF), static_cast<uint8_t>(w >> 8)}) {
            if (b == 0) return s;
            s.push_back(static_cast<char>(b));
        }
    }
    return s;
}

bool ReadSeries(CRegisterPort& port, uint8_t station, std::string* series, uint8_t* err)
{
    uint16_t words[kSeriesLast - kSeriesFirst + 1] = {};
    for (uint16_t reg = kSeriesFirst; reg <= kSeriesLast; ++reg) {
        *err = 0;
        uint8_t buf[2] = {0, 0};
        if (!port.ProcRead(station, reg, buf, err)) return false;
        words[reg - kSeriesFirst] = static_cast<uint16_t>(buf[0] | (buf[1] << 8));
    }
    *series = SeriesText(words[2], words[3], words[4]);
    return true;
}

}  // namespace driveid
