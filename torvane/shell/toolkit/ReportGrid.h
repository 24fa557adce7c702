#pragma once
// CReportGrid: the report grid of the parameter, M-data and history views.
// Columns have a caption and a width (a width of 0 hides the column). Rows
// are built from records of check, text and number items; records added with
// AddRecord appear as rows at the next Populate. A row is named by its
// position in the grid: removing a row moves the rows after it up by one,
// and later notifications name the new positions.
//
// Item setters may be called from a worker thread; they are carried over to
// the grid's own thread. Everything else belongs to the grid's thread.

#include <QColor>
#include <QIcon>
#include <QString>
#include <QTableView>

#include <vector>

class QPixmap;

struct CReportItem
{
  enum class Kind { Text, Number, Check };

  Kind kind = Kind::Text;
  QString text;                 // text item; caption beside a check box
  double number = 0;            // number item
  QString format = QStringLiteral("%g"); // printf format of a number item
  bool checked = false;         // check item
  bool button = false;          // an in-cell button at the right edge
  QIcon buttonIcon;
  QColor background;            // invalid: the grid's own
  QString toolTip;

  static CReportItem Text(const QString& text);
  static CReportItem Number(double value, const QString& format = QStringLiteral("%g"));
  static CReportItem Check(bool checked, const QString& caption = QString());

  // What the cell shows.
  QString DisplayText() const;
};

struct CReportRecord
{
  std::vector<CReportItem> items;

  CReportItem& AddItem(const CReportItem& item)
  {
    items.push_back(item);
    return items.back();
  }
};

// A number in a printf format with exactly one floating conversion ("%.2f",
// "%g", "%8.3e", ...). Any other format, which could read arguments that are
// not there, falls back to "%g".
QString FormatNumber(const QString& format, double value);

// An icon from a bitmap whose pixels of the mask colour are transparent.
QIcon MaskedIcon(const QPixmap& bitmap, const QColor& maskColor);

class CReportModel;

class CReportGrid : public QTableView
{
  Q_OBJECT
public:
  explicit CReportGrid(QWidget* parent = nullptr);
  ~CReportGrid() override;

  // --- columns ------------------------------------------------------------
  int AddColumn(const QString& caption, int width);
  int ColumnCount() const;
  void SetColumnWidth(int column, int width); // 0 hides the column
  int ColumnWidth(int column) const;          // 0 for a hidden column
  bool IsColumnVisible(int column) const;
  void SetColumnCaption(int column, const QString& caption);
  QString ColumnCaption(int column) const;
  void RemoveAllColumns();

  // --- records and rows -----------------------------------------------------
  // Queues a record; it becomes a row at the next Populate. Returns the row
  // it will have.
  int AddRecord(const CReportRecord& record);
  // Shows the queued records as rows after the existing ones.
  void Populate();
  int RowCount() const;
  // Removes a row (and its record) at once.
  void RemoveRow(int row);
  // Removes every row and every queued record.
  void RemoveAllRows();
  // Repaints the rows after their items were changed through Item().
  void Redraw();

  // --- items of shown rows ----------------------------------------------------
  // Direct access; nullptr when there is no such cell. The pointer holds
  // until rows are added or removed; changes made through it show at Redraw.
  const CReportItem* Item(int row, int column) const;
  CReportItem* Item(int row, int column);
  QString ItemText(int row, int column) const;
  void SetItemText(int row, int column, const QString& text);
  void SetItemNumber(int row, int column, double value);
  // A cell's background (an invalid colour: the grid's own) and tooltip.
  void SetItemMark(int row, int column, const QColor& background, const QString& toolTip);
  bool IsChecked(int row, int column = 0) const;
  // Sets a check item without a toggle notification.
  void SetChecked(int row, bool checked, int column = 0);
  void SetItemButton(int row, int column, bool shown, const QIcon& icon = QIcon());

  // Where things sit in the viewport (empty rectangles when not shown).
  QRect CellRect(int row, int column) const;
  QRect ButtonRect(int row, int column) const;
  QRect CheckRect(int row, int column) const;

signals:
  // The user toggled the check item of this row.
  void checkToggled(int row);
  // The user clicked the in-cell button of an item of this row.
  void buttonClicked(int row);

private:
  friend class CReportDelegate;
  friend class CReportModel;
  template <class F>
  void OnOwnThread(F&& f);

  CReportModel* m_model;
  std::vector<int> m_widths;
};
