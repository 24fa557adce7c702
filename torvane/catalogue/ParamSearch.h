// Finding a parameter without knowing its group: by its number or by words of
// its name in the current language, and which device tree item shows it.
#pragma once

#include "ParamTable.h"

#include <string>
#include <vector>

// The records that match `query`, in table order:
// - a parameter number, with or without the "P" ("P01.04", "1.04", "p1.4"),
//   matches the record with that group and index;
// - anything else matches the records whose name (the variant of
//   `languageIndex`) contains every word of the query, ignoring case.
// An empty query matches nothing.
std::vector<int> FindParameters(const ParamTable& table, const std::wstring& query, int languageIndex);

// How a search list shows a record: "P01.04 Maximum frequency".
std::wstring SearchEntryText(const ParamRecord& record, int languageIndex);

// The numbers of the device tree items whose view lists the record, most
// specific first: its group or subgroup under the parameter root, then under
// the M-data root (the tree catalogue's numbering: 10000 + group,
// 20000 + subgroup, 60000 + group, 70000 + subgroup). Empty for a record
// above the first header.
std::vector<int> TreeNumbersOfRecord(const ParamRecord& record);
