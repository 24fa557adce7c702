// Captions the two monitor views share, by identifier of the language
// workbook: the labels above the slot columns, "Interval:", the table's
// time column. Labels carry the identifier and take the text with the other
// controls; texts set from code ask Caption.
#pragma once

#include "DataDlg.h"
#include "LanguageTables.h"

#include <QString>

namespace monitor {

enum {
    IDC_INTERVAL_LABEL = 1111,
    IDC_SIGNAL_HEADER = 1112,
    IDC_SIGNAL_VALUE_HEADER = 1113,
    IDC_SIGNAL_SCALING_HEADER = 1114,
    IDC_TIME_COLUMN = 1115,
    // Parts of the real-time monitor's recording line.
    IDS_SAMPLES_HELD = 1116,
    IDS_NOT_SAVED = 1117,
    IDS_SAVED = 1118,
    IDS_LAST_AUTO_SAVE = 1119,
};

// The text of `id` in the current language; `english` when the workbook
// has none.
inline QString Caption(int id, const char* english)
{
    const std::wstring text = CDataDlg::Language().ControlText(id);
    return text.empty() ? QString::fromUtf8(english) : QString::fromStdWString(text);
}

}  // namespace monitor
