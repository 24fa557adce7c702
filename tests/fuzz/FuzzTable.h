// A small parameter table of device type "TV380" for the targets whose
// files are read against the current device type. Built in memory: the
// fuzz targets exercise the file readers, not the table loader.
#pragma once

#include "ParamTable.h"

namespace fuzzkit {

inline void FillTable(ParamTable& table)
{
    table.Clear();
    table.deviceType = L"TV380";
    table.fileBaseName = L"TV380";
    const int addresses[] = {1, 2, 3, 85, 86, 0x2000, 0x2001, 0x3000};
    int index = 0;
    for (int address : addresses) {
        ParamRecord r;
        r.index = index;
        r.address = address;
        r.pnu = L"0-" + std::to_wstring(index);
        r.name = L"Param " + std::to_wstring(index) + L",\u53c2\u6570";
        r.exponent = -(index % 4);
        r.minValue = index % 2 ? -100 : 0;
        r.maxValue = 1000;
        table.params.push_back(r);
        ++index;
    }
}

}  // namespace fuzzkit
