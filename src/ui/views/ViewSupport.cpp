#include "ui/views/ViewSupport.h"

#include <QAction>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QToolBar>
#include <QTreeView>
#include <QVBoxLayout>
#include <algorithm>
#include <charconv>

namespace sw {

int DecimalOrZero(const std::string& text) {
    int value = 0;
    const char* begin = text.data();
    const char* end = begin + text.size();
    // from_chars takes no plus sign, but a hand-edited file may carry one.
    if (begin != end && *begin == '+') {
        ++begin;
    }
    auto [ptr, ec] = std::from_chars(begin, end, value);
    return (ec == std::errc() && ptr == end && begin != end) ? value : 0;
}

int ColumnWidthFor(const QWidget& view, int designWidth, const QString& sample) {
    // Room for the cell's margins on both sides.
    constexpr int kPadding = 12;
    return std::max(designWidth, view.fontMetrics().horizontalAdvance(sample) + kPadding);
}

QToolBar* CreateCommandBar(const QString& objectName, QWidget* parent) {
    auto* bar = new QToolBar(parent);
    bar->setObjectName(objectName);
    bar->setOrientation(Qt::Vertical);
    bar->setMovable(false);
    bar->setFloatable(false);
    bar->setIconSize(QSize(16, 16));
    bar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    return bar;
}

void AddCommandButton(QToolBar* bar, QAction* action, const QString& buttonName) {
    bar->addAction(action);
    bar->widgetForAction(action)->setObjectName(buttonName);
}

QAction* CreateViewAction(const QString& objectName, const QString& caption, const QIcon& icon,
                          QObject* parent) {
    auto* action = new QAction(icon, caption, parent);
    action->setObjectName(objectName);
    return action;
}

void SetUpReportList(QTreeView* list, const QString& objectName, int iconSize,
                     std::initializer_list<int> widths) {
    list->setObjectName(objectName);
    list->setRootIsDecorated(false);
    list->setItemsExpandable(false);
    // Every row is one line high; without this the view would measure every row of a long list.
    list->setUniformRowHeights(true);
    list->setAllColumnsShowFocus(true);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list->setIconSize(QSize(iconSize, iconSize));
    QHeaderView* header = list->header();
    header->setSectionsClickable(false);
    header->setSectionsMovable(false);
    header->setStretchLastSection(false);
    header->setMinimumSectionSize(20);
    int column = 0;
    for (const int width : widths) {
        header->resizeSection(column++, width);
    }
}

void LayOutView(QWidget* view, QWidget* content, QToolBar* commandBar, QWidget* statusBar) {
    auto* row = new QHBoxLayout;
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    row->addWidget(content, 1);
    row->addWidget(commandBar);
    auto* layout = new QVBoxLayout(view);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addLayout(row, 1);
    layout->addWidget(statusBar);
}

} // namespace sw
