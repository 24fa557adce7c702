#include "ReportGrid.h"

#include <QAbstractTableModel>
#include <QApplication>
#include <QBitmap>
#include <QHeaderView>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QRegularExpression>
#include <QStyledItemDelegate>
#include <QThread>

#include <cstdio>

// --- items --------------------------------------------------------------------

CReportItem CReportItem::Text(const QString& text)
{
  CReportItem item;
  item.kind = Kind::Text;
  item.text = text;
  return item;
}

CReportItem CReportItem::Number(double value, const QString& format)
{
  CReportItem item;
  item.kind = Kind::Number;
  item.number = value;
  item.format = format;
  return item;
}

CReportItem CReportItem::Check(bool checked, const QString& caption)
{
  CReportItem item;
  item.kind = Kind::Check;
  item.checked = checked;
  item.text = caption;
  return item;
}

QString CReportItem::DisplayText() const
{
  return kind == Kind::Number ? FormatNumber(format, number) : text;
}

QString FormatNumber(const QString& format, double value)
{
  static const QRegularExpression one(
      QStringLiteral("^(?:[^%]|%%)*%[-+ 0#]*\\d*(?:\\.\\d+)?[fFeEgG](?:[^%]|%%)*$"));
  const QString& safe = one.match(format).hasMatch() ? format : QStringLiteral("%g");
  // The C library's printf, so texts round as everywhere else in the program.
  const QByteArray f = safe.toLatin1();
  const int n = std::snprintf(nullptr, 0, f.constData(), value);
  if (n <= 0)
    return {};
  QByteArray out(n + 1, '\0');
  std::snprintf(out.data(), out.size(), f.constData(), value);
  out.chop(1);
  return QString::fromLatin1(out);
}

QIcon MaskedIcon(const QPixmap& bitmap, const QColor& maskColor)
{
  QPixmap p = bitmap;
  p.setMask(bitmap.createMaskFromColor(maskColor, Qt::MaskInColor));
  return QIcon(p);
}

// --- model ----------------------------------------------------------------------

class CReportModel : public QAbstractTableModel
{
public:
  CReportModel(CReportGrid* grid) : QAbstractTableModel(grid), m_grid(grid) {}

  int rowCount(const QModelIndex& parent = QModelIndex()) const override
  {
    return parent.isValid() ? 0 : static_cast<int>(rows.size());
  }
  int columnCount(const QModelIndex& parent = QModelIndex()) const override
  {
    return parent.isValid() ? 0 : captions.size();
  }

  const CReportItem* ItemAt(int row, int column) const
  {
    if (row < 0 || row >= static_cast<int>(rows.size()) || column < 0)
      return nullptr;
    const auto& items = rows[row].items;
    return column < static_cast<int>(items.size()) ? &items[column] : nullptr;
  }
  CReportItem* ItemAt(int row, int column)
  {
    return const_cast<CReportItem*>(static_cast<const CReportModel*>(this)->ItemAt(row, column));
  }

  QVariant data(const QModelIndex& index, int role) const override
  {
    const CReportItem* item = ItemAt(index.row(), index.column());
    if (!item)
      return {};
    switch (role) {
    case Qt::DisplayRole:
      return item->DisplayText();
    case Qt::CheckStateRole:
      if (item->kind == CReportItem::Kind::Check)
        return item->checked ? Qt::Checked : Qt::Unchecked;
      return {};
    case Qt::TextAlignmentRole:
      return int(Qt::AlignLeft | Qt::AlignVCenter);
    case Qt::BackgroundRole:
      return item->background.isValid() ? QVariant(item->background) : QVariant();
    case Qt::ToolTipRole:
      return item->toolTip.isEmpty() ? QVariant() : QVariant(item->toolTip);
    default:
      return {};
    }
  }

  Qt::ItemFlags flags(const QModelIndex& index) const override
  {
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    const CReportItem* item = ItemAt(index.row(), index.column());
    if (item && item->kind == CReportItem::Kind::Check)
      f |= Qt::ItemIsUserCheckable;
    return f;
  }

  // Only the view calls this, for a check the user toggled.
  bool setData(const QModelIndex& index, const QVariant& value, int role) override
  {
    CReportItem* item = ItemAt(index.row(), index.column());
    if (role != Qt::CheckStateRole || !item || item->kind != CReportItem::Kind::Check)
      return false;
    const bool checked = value.toInt() == Qt::Checked;
    if (checked == item->checked)
      return true;
    item->checked = checked;
    emit dataChanged(index, index, {Qt::CheckStateRole});
    emit m_grid->checkToggled(index.row());
    return true;
  }

  QVariant headerData(int section, Qt::Orientation orientation, int role) const override
  {
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 &&
        section < captions.size())
      return captions[section];
    return QAbstractTableModel::headerData(section, orientation, role);
  }

  void CellChanged(int row, int column)
  {
    const QModelIndex i = index(row, column);
    emit dataChanged(i, i);
  }
  void AllChanged()
  {
    if (!rows.empty() && !captions.isEmpty())
      emit dataChanged(index(0, 0), index(rowCount() - 1, columnCount() - 1));
  }
  void HeaderChanged(int first, int last) { emit headerDataChanged(Qt::Horizontal, first, last); }

  using QAbstractTableModel::beginInsertColumns;
  using QAbstractTableModel::beginInsertRows;
  using QAbstractTableModel::beginRemoveRows;
  using QAbstractTableModel::beginResetModel;
  using QAbstractTableModel::endInsertColumns;
  using QAbstractTableModel::endInsertRows;
  using QAbstractTableModel::endRemoveRows;
  using QAbstractTableModel::endResetModel;

  std::vector<CReportRecord> rows;
  std::vector<CReportRecord> queued;
  QStringList captions;

private:
  CReportGrid* m_grid;
};

// --- delegate: in-cell buttons --------------------------------------------------

class CReportDelegate : public QStyledItemDelegate
{
public:
  CReportDelegate(CReportGrid* grid) : QStyledItemDelegate(grid), m_grid(grid) {}

  void InitOption(QStyleOptionViewItem* option, const QModelIndex& index) const
  {
    initStyleOption(option, index);
  }

  static QRect ButtonPart(const QRect& cell)
  {
    const int side = std::max(0, std::min(cell.height(), cell.width()));
    return QRect(cell.right() - side + 1, cell.top(), side, cell.height());
  }

  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override
  {
    const CReportItem* item = m_grid->m_model->ItemAt(index.row(), index.column());
    if (!item || !item->button) {
      QStyledItemDelegate::paint(painter, option, index);
      return;
    }
    const QRect button = ButtonPart(option.rect);
    QStyleOptionViewItem rest = option;
    rest.rect.setRight(button.left() - 1);
    QStyledItemDelegate::paint(painter, rest, index);

    QStyleOptionButton b;
    b.rect = button;
    b.state = QStyle::State_Enabled | QStyle::State_Raised;
    b.icon = item->buttonIcon;
    b.iconSize = QSize(button.height() - 4, button.height() - 4);
    if (item->buttonIcon.isNull())
      b.text = QStringLiteral("...");
    QStyle* style = option.widget ? option.widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_PushButton, &b, painter, option.widget);
  }

  bool editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override
  {
    const CReportItem* item = m_grid->m_model->ItemAt(index.row(), index.column());
    QStyleOptionViewItem rest = option;
    if (item && item->button) {
      const QRect button = ButtonPart(option.rect);
      rest.rect.setRight(button.left() - 1);
      if (event->type() == QEvent::MouseButtonPress ||
          event->type() == QEvent::MouseButtonRelease ||
          event->type() == QEvent::MouseButtonDblClick) {
        auto* me = static_cast<QMouseEvent*>(event);
        if (me->button() == Qt::LeftButton && button.contains(me->position().toPoint())) {
          if (event->type() == QEvent::MouseButtonRelease)
            emit m_grid->buttonClicked(index.row());
          return true;
        }
      }
    }
    return QStyledItemDelegate::editorEvent(event, model, rest, index);
  }

private:
  CReportGrid* m_grid;
};

// --- grid -----------------------------------------------------------------------

CReportGrid::CReportGrid(QWidget* parent) : QTableView(parent), m_model(new CReportModel(this))
{
  setModel(m_model);
  setItemDelegate(new CReportDelegate(this));
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setSortingEnabled(false);
  setWordWrap(false);
  verticalHeader()->hide();
  verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  horizontalHeader()->setHighlightSections(false);
  horizontalHeader()->setStretchLastSection(false);
}

CReportGrid::~CReportGrid() = default;

template <class F>
void CReportGrid::OnOwnThread(F&& f)
{
  if (QThread::currentThread() == thread())
    f();
  else
    QMetaObject::invokeMethod(this, std::forward<F>(f), Qt::QueuedConnection);
}

int CReportGrid::AddColumn(const QString& caption, int width)
{
  const int column = m_model->captions.size();
  m_model->beginInsertColumns(QModelIndex(), column, column);
  m_model->captions.append(caption);
  m_widths.push_back(0);
  m_model->endInsertColumns();
  SetColumnWidth(column, width);
  return column;
}

int CReportGrid::ColumnCount() const { return m_model->captions.size(); }

void CReportGrid::SetColumnWidth(int column, int width)
{
  if (column < 0 || column >= ColumnCount())
    return;
  m_widths[column] = std::max(0, width);
  if (m_widths[column] == 0) {
    setColumnHidden(column, true);
  } else {
    setColumnHidden(column, false);
    QTableView::setColumnWidth(column, m_widths[column]);
  }
}

int CReportGrid::ColumnWidth(int column) const
{
  return column >= 0 && column < ColumnCount() ? m_widths[column] : 0;
}

bool CReportGrid::IsColumnVisible(int column) const
{
  return column >= 0 && column < ColumnCount() && !isColumnHidden(column);
}

void CReportGrid::SetColumnCaption(int column, const QString& caption)
{
  if (column < 0 || column >= ColumnCount())
    return;
  m_model->captions[column] = caption;
  m_model->HeaderChanged(column, column);
}

QString CReportGrid::ColumnCaption(int column) const
{
  return column >= 0 && column < ColumnCount() ? m_model->captions[column] : QString();
}

void CReportGrid::RemoveAllColumns()
{
  m_model->beginResetModel();
  m_model->captions.clear();
  m_widths.clear();
  m_model->endResetModel();
}

int CReportGrid::AddRecord(const CReportRecord& record)
{
  m_model->queued.push_back(record);
  return static_cast<int>(m_model->rows.size() + m_model->queued.size()) - 1;
}

void CReportGrid::Populate()
{
  if (m_model->queued.empty()) {
    Redraw();
    return;
  }
  const int first = static_cast<int>(m_model->rows.size());
  const int last = first + static_cast<int>(m_model->queued.size()) - 1;
  m_model->beginInsertRows(QModelIndex(), first, last);
  m_model->rows.reserve(m_model->rows.size() + m_model->queued.size());
  for (auto& r : m_model->queued)
    m_model->rows.push_back(std::move(r));
  m_model->queued.clear();
  m_model->endInsertRows();
}

int CReportGrid::RowCount() const { return static_cast<int>(m_model->rows.size()); }

void CReportGrid::RemoveRow(int row)
{
  if (row < 0 || row >= RowCount())
    return;
  m_model->beginRemoveRows(QModelIndex(), row, row);
  m_model->rows.erase(m_model->rows.begin() + row);
  m_model->endRemoveRows();
}

void CReportGrid::RemoveAllRows()
{
  m_model->beginResetModel();
  m_model->rows.clear();
  m_model->queued.clear();
  m_model->endResetModel();
}

void CReportGrid::Redraw()
{
  OnOwnThread([this] {
    m_model->AllChanged();
    viewport()->update();
  });
}

const CReportItem* CReportGrid::Item(int row, int column) const { return m_model->ItemAt(row, column); }
CReportItem* CReportGrid::Item(int row, int column) { return m_model->ItemAt(row, column); }

QString CReportGrid::ItemText(int row, int column) const
{
  const CReportItem* item = m_model->ItemAt(row, column);
  return item ? item->DisplayText() : QString();
}

void CReportGrid::SetItemText(int row, int column, const QString& text)
{
  OnOwnThread([this, row, column, text] {
    if (CReportItem* item = m_model->ItemAt(row, column)) {
      if (item->kind == CReportItem::Kind::Number)
        item->kind = CReportItem::Kind::Text;
      item->text = text;
      m_model->CellChanged(row, column);
    }
  });
}

void CReportGrid::SetItemMark(int row, int column, const QColor& background, const QString& toolTip)
{
  OnOwnThread([this, row, column, background, toolTip] {
    if (CReportItem* item = m_model->ItemAt(row, column)) {
      item->background = background;
      item->toolTip = toolTip;
      m_model->CellChanged(row, column);
    }
  });
}

void CReportGrid::SetItemNumber(int row, int column, double value)
{
  OnOwnThread([this, row, column, value] {
    if (CReportItem* item = m_model->ItemAt(row, column)) {
      if (item->kind == CReportItem::Kind::Text)
        item->kind = CReportItem::Kind::Number;
      item->number = value;
      m_model->CellChanged(row, column);
    }
  });
}

bool CReportGrid::IsChecked(int row, int column) const
{
  const CReportItem* item = m_model->ItemAt(row, column);
  return item && item->kind == CReportItem::Kind::Check && item->checked;
}

void CReportGrid::SetChecked(int row, bool checked, int column)
{
  OnOwnThread([this, row, column, checked] {
    CReportItem* item = m_model->ItemAt(row, column);
    if (item && item->kind == CReportItem::Kind::Check && item->checked != checked) {
      item->checked = checked;
      m_model->CellChanged(row, column);
    }
  });
}

void CReportGrid::SetItemButton(int row, int column, bool shown, const QIcon& icon)
{
  OnOwnThread([this, row, column, shown, icon] {
    if (CReportItem* item = m_model->ItemAt(row, column)) {
      item->button = shown;
      item->buttonIcon = icon;
      m_model->CellChanged(row, column);
    }
  });
}

QRect CReportGrid::CellRect(int row, int column) const
{
  if (!m_model->ItemAt(row, column) && (row < 0 || row >= RowCount()))
    return {};
  return visualRect(m_model->index(row, column));
}

QRect CReportGrid::ButtonRect(int row, int column) const
{
  const CReportItem* item = m_model->ItemAt(row, column);
  if (!item || !item->button)
    return {};
  const QRect cell = CellRect(row, column);
  return cell.isEmpty() ? QRect() : CReportDelegate::ButtonPart(cell);
}

QRect CReportGrid::CheckRect(int row, int column) const
{
  const CReportItem* item = m_model->ItemAt(row, column);
  if (!item || item->kind != CReportItem::Kind::Check)
    return {};
  QStyleOptionViewItem option;
  initViewItemOption(&option);
  const QModelIndex index = m_model->index(row, column);
  option.rect = visualRect(index);
  if (option.rect.isEmpty())
    return {};
  if (item->button)
    option.rect.setRight(CReportDelegate::ButtonPart(option.rect).left() - 1);
  static_cast<CReportDelegate*>(itemDelegate())->InitOption(&option, index);
  return style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &option, this);
}
