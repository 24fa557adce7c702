#include "DeviceViewPane.h"

#include "ControlIds.h"
#include "MainFrameCommands.h"

#include <QCompleter>
#include <QFont>
#include <QLineEdit>
#include <QStringListModel>
#include <QHeaderView>
#include <QPainter>
#include <QSignalBlocker>
#include <QTimer>
#include <QTreeWidgetItemIterator>
#include <QVBoxLayout>

namespace {
constexpr int kNumberRole = Qt::UserRole + 1;
}

COfficeTreeCtrl::COfficeTreeCtrl(QWidget* parent) : QTreeWidget(parent)
{
    SetCtrlId(this, IDC_DEVICE_TREE);
    setObjectName(QStringLiteral("DeviceTree"));
    setHeaderHidden(true);
    setColumnCount(1);
    setRootIsDecorated(true);
    setItemsExpandable(true);
    setUniformRowHeights(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setIconSize(QSize(16, 16));
    // A thin sunken edge, like the Office panes.
    setFrameShape(QFrame::StyledPanel);
    setFrameShadow(QFrame::Sunken);
    setLineWidth(1);
}

int COfficeTreeCtrl::ItemNumber(const QTreeWidgetItem* item)
{
    return item ? item->data(0, kNumberRole).toInt() : 0;
}

QTreeWidgetItem* COfficeTreeCtrl::FindItem(int number) const
{
    for (QTreeWidgetItemIterator it(const_cast<COfficeTreeCtrl*>(this)); *it; ++it)
        if (ItemNumber(*it) == number) return *it;
    return nullptr;
}

CDeviceViewPane::CDeviceViewPane(QWidget* parent)
    : QWidget(parent),
      tree_(new COfficeTreeCtrl(this)),
      search_(new QLineEdit(this)),
      searchEntries_(new QStringListModel(this)),
      completer_(new QCompleter(searchEntries_, this))
{
    setObjectName(QStringLiteral("DeviceViewPane"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    search_->setObjectName(QStringLiteral("ParamSearch"));
    search_->setClearButtonEnabled(true);
    // Any part of the number or the name brings the entry up.
    completer_->setCaseSensitivity(Qt::CaseInsensitive);
    completer_->setFilterMode(Qt::MatchContains);
    completer_->setMaxVisibleItems(12);
    search_->setCompleter(completer_);
    // Enter on an entry of the open list activates it and then reaches the
    // field as well: that second notice is dropped.
    connect(completer_, qOverload<const QString&>(&QCompleter::activated), this, [this](const QString& entry) {
        activated_ = true;
        QTimer::singleShot(0, this, [this] { activated_ = false; });
        emit searchRequested(entry);
    });
    connect(search_, &QLineEdit::returnPressed, this, [this] {
        if (!activated_) emit searchRequested(search_->text());
    });
    layout->addWidget(search_);
    layout->addWidget(tree_);
    connect(tree_, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* current, QTreeWidgetItem* previous) {
                previous_ = previous;
                OnCurrentChanged(current);
            });
}

void CDeviceViewPane::SetSearchEntries(const QStringList& entries)
{
    searchEntries_->setStringList(entries);
}

void CDeviceViewPane::SetSearchHint(const QString& hint)
{
    search_->setPlaceholderText(hint);
    search_->setToolTip(hint);
}

QPixmap CDeviceViewPane::TreeImage(int index)
{
    // A small page: a grey one for items, a blue one with a dot for the
    // selected item.
    QPixmap pm(16, 16);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing, false);
    const QColor edge = index == 1 ? QColor(0, 70, 160) : QColor(100, 100, 100);
    const QColor fill = index == 1 ? QColor(200, 225, 255) : QColor(245, 245, 240);
    p.setPen(edge);
    p.setBrush(fill);
    p.drawRect(2, 1, 11, 13);
    p.setPen(edge.lighter(140));
    for (int y = 4; y <= 11; y += 3) p.drawLine(4, y, 11, y);
    if (index == 1) {
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0, 110, 220));
        p.drawEllipse(QPoint(12, 12), 3, 3);
    }
    p.end();
    return pm;
}

QIcon CDeviceViewPane::TreeIcon()
{
    QIcon icon;
    icon.addPixmap(TreeImage(0), QIcon::Normal);
    icon.addPixmap(TreeImage(1), QIcon::Selected);
    return icon;
}

void CDeviceViewPane::Clear()
{
    rebuilding_ = true;
    tree_->clear();
    rebuilding_ = false;
}

void CDeviceViewPane::Rebuild(const std::vector<TreeItem>& items)
{
    rebuilding_ = true;
    tree_->clear();
    const QIcon icon = TreeIcon();
    std::vector<QTreeWidgetItem*> made;
    made.reserve(items.size());
    for (const TreeItem& it : items) {
        QTreeWidgetItem* parent =
            it.parent >= 0 && static_cast<size_t>(it.parent) < made.size() ? made[static_cast<size_t>(it.parent)] : nullptr;
        auto* item = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(tree_);
        item->setText(0, QString::fromStdWString(it.text));
        item->setData(0, kNumberRole, it.number);
        item->setIcon(0, icon);
        if (it.bold) {
            QFont f = item->font(0);
            f.setBold(true);
            item->setFont(0, f);
        }
        made.push_back(item);
    }
    // Expansion after all children exist, so each item keeps its own state.
    for (size_t i = 0; i < items.size(); ++i) made[i]->setExpanded(items[i].expanded);
    tree_->setCurrentItem(nullptr);
    rebuilding_ = false;
}

bool CDeviceViewPane::SelectNumber(int number)
{
    QTreeWidgetItem* item = tree_->FindItem(number);
    if (!item) return false;
    tree_->setCurrentItem(item);
    tree_->scrollToItem(item);
    return true;
}

void CDeviceViewPane::RevertSelection()
{
    QTreeWidgetItem* back = previous_;
    auto setQuietly = [this, back] {
        // Only an item still in the tree (a rebuild deletes them all).
        QTreeWidgetItem* found = nullptr;
        for (QTreeWidgetItemIterator it(tree_); *it && !found; ++it)
            if (*it == back) found = *it;
        rebuilding_ = true;
        tree_->setCurrentItem(found);
        rebuilding_ = false;
    };
    setQuietly();
    // A mouse press makes its item current before it selects it: once the
    // press is handled, the item is put back again.
    QTimer::singleShot(0, this, setQuietly);
}

void CDeviceViewPane::OnCurrentChanged(QTreeWidgetItem* current)
{
    if (rebuilding_ || !current) return;
    QTreeWidgetItem* parent = current->parent();
    if (!parent) return;
    emit itemSelected(COfficeTreeCtrl::ItemNumber(current), COfficeTreeCtrl::ItemNumber(parent), current->text(0));
}
