// The history viewer: a history workbook loaded back into the sample store
// and shown as a chart (percent of each slot's scale, or engineering values)
// and as a table with one row per sample; the hovered sample's values in the
// slot fields; the recording exported as CSV and the chart as a PNG image.
//
// The viewer keeps nothing of its own between loads: the samples live in the
// process-wide store until the next load or the next data log of a real-time
// monitor.
#pragma once

#include "ChartControl.h"
#include "ColorRef.h"
#include "DataDlg.h"
#include "HistoryFile.h"

#include <QString>

#include <array>
#include <memory>

class CColorPicker;
class CMonitorBuffer;
class CReportGrid;
class QCheckBox;
class QGroupBox;
class QLineEdit;
class QPushButton;
class QScrollArea;

// What the viewer asks the user. The program's own answers are modal
// dialogs; tests put their own in place (SetHistoryPrompts, or per view).
class CHistoryPrompts {
public:
    virtual ~CHistoryPrompts() = default;
    virtual void ShowMessage(QWidget* parent, const QString& text);
    // An existing file to open; empty when cancelled.
    virtual QString AskOpenFile(QWidget* parent, const QString& folder, const QString& filterText,
                                const QString& pattern);
    // A file to write; empty when cancelled.
    virtual QString AskSaveFile(QWidget* parent, const QString& folder, const QString& filterText,
                                const QString& pattern);
};

void SetHistoryPrompts(CHistoryPrompts* prompts);  // null restores the program's own
CHistoryPrompts& HistoryPrompts();

class CDialogHisLine : public CDataDlg {
    Q_OBJECT
public:
    // Control identifiers of the viewer. The language workbook names
    // captions by identifier, so a control whose identifier the real-time
    // monitor gives another control ("Continuous sampling", "Stop Data Log",
    // "Save Data" and two value fields) has one of its own here.
    enum {
        IDC_CHART = 1003,
        IDC_OPTIONS = 1004,
        IDC_TABLE = 1007,
        IDC_INTERVAL = 1027,
        IDC_SHOW_VALUE = 1066,
        IDC_SHOW_TABLE = 1068,
        IDC_EXPORT_CSV = 1081,
        IDC_SAVE_IMAGE = 1082,
        IDC_LOAD = 1106,
        IDC_ORIGINAL = 1107,
        IDC_SLOT5_NAME = 1108,
        IDC_ZOOM_Y = 1109,
        IDC_REFRESH = 1110,
    };
    static const int kSlotCheckIds[kMonitorSlots];
    static const int kSlotColorIds[kMonitorSlots];
    static const int kSlotNameIds[kMonitorSlots];
    static const int kSlotValueIds[kMonitorSlots];
    static const int kSlotScaleIds[kMonitorSlots];
    static const ColorRef kDefaultColors[kMonitorSlots];
    static constexpr int kMargin = 10;

    // store: the sample store the viewer loads into (one of its own by default).
    explicit CDialogHisLine(QWidget* parent = nullptr, CMonitorBuffer* store = nullptr);
    ~CDialogHisLine() override;

    // The folder the file dialogs open at ("history/" in the program's
    // writable folder).
    void SetHistoryFolder(const QString& folder) { historyFolder_ = folder; }
    QString HistoryFolder() const { return historyFolder_; }
    void SetPrompts(CHistoryPrompts* prompts) { prompts_ = prompts; }

    // Commands.
    void OnLoad();                 // "Load": asks for a file, then LoadFile
    bool LoadFile(const QString& path);  // the reader and what follows; false = refused
    void OnRefresh();              // "Refresh": chart draw
    void OnOriginalValue();        // "Original Value" toggled
    void OnShowValue();            // "Show Value" toggled
    void OnZoomY();                // "Zoom Y" toggled
    void OnShowTable();            // "Show Table" toggled
    bool ExportCsv(const QString& path);
    bool SaveChartImage(const QString& path);
    void OnExportCsv();            // asks for a file, then ExportCsv
    void OnSaveChartImage();       // asks for a file, then SaveChartImage
    void OnChartHover(const CChartHoverNotice& notice);
    // The steps after a load: the table from the store, then the chart.
    void FillTable();
    void DrawChart();

    // Parts, for the program's own checks and the tests.
    CChartBorder<CVKRChartControl>* Chart() const { return chart_; }
    CReportGrid* Table() const { return grid_; }
    QGroupBox* Options() const { return options_; }
    const history::LoadResult& LastLoad() const { return lastLoad_; }
    // Chart series index of a slot after the last draw; -1 when not drawn.
    int SeriesOfSlot(int slot) const { return seriesOfSlot_[static_cast<size_t>(slot)]; }

protected:
    void OnInitDialog() override;
    void resizeEvent(QResizeEvent* event) override;

private:
    struct Slot {
        QCheckBox* check = nullptr;
        CColorPicker* color = nullptr;
        QLineEdit* name = nullptr;
        QLineEdit* value = nullptr;
        QLineEdit* scale = nullptr;
    };

    void BuildControls();
    void SetUpChart();
    void ApplyLayout();
    CHistoryPrompts& Prompts() const;

    // A loaded file lives in a store of the viewer's own: the live
    // recording in the process-wide store is never touched by a load.
    std::unique_ptr<CMonitorBuffer> ownStore_;
    CMonitorBuffer& store_;
    CHistoryPrompts* prompts_ = nullptr;
    QString historyFolder_;
    history::LoadResult lastLoad_;
    std::array<Slot, kMonitorSlots> slot_;
    std::array<int, kMonitorSlots> seriesOfSlot_;
    QGroupBox* options_ = nullptr;
    QScrollArea* optionsScroll_ = nullptr;
    QLineEdit* interval_ = nullptr;
    QCheckBox* original_ = nullptr;
    QCheckBox* showValue_ = nullptr;
    QCheckBox* zoomY_ = nullptr;
    QCheckBox* showTable_ = nullptr;
    CChartBorder<CVKRChartControl>* chart_ = nullptr;
    CReportGrid* grid_ = nullptr;
};
