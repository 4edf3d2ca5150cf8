#include "ui/SwitchTree.h"

#include <QHeaderView>
#include <QMouseEvent>
#include <QPainter>
#include <array>

namespace sw {

namespace {

constexpr int kImageRole = Qt::UserRole;
constexpr int kNumberRole = Qt::UserRole + 1;

QPixmap SwitchPixmap(int image, const QPalette& palette) {
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor ink = palette.color(QPalette::Text);
    painter.setPen(QPen(palette.color(QPalette::Dark), 1));
    painter.setBrush(palette.color(QPalette::Base));
    painter.drawRect(QRectF(2.5, 2.5, 11, 11));
    if (image == TSwitchTree::kImageOn) {
        painter.setPen(QPen(ink, 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        const std::array<QPointF, 3> tick = {QPointF(5, 8), QPointF(7.2, 10.5), QPointF(11, 5.2)};
        painter.drawPolyline(tick.data(), static_cast<int>(tick.size()));
    } else if (image == TSwitchTree::kImagePartly) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(palette.color(QPalette::Mid));
        painter.drawRect(QRectF(5, 5, 6, 6));
    }
    return pixmap;
}

QIcon SwitchIcon(int image, const QPalette& palette) {
    const QPixmap pixmap = SwitchPixmap(image, palette);
    QIcon icon;
    // A selected node shows the same image as when not selected.
    icon.addPixmap(pixmap, QIcon::Normal);
    icon.addPixmap(pixmap, QIcon::Selected);
    icon.addPixmap(pixmap, QIcon::Active);
    return icon;
}

} // namespace

TSwitchTree::TSwitchTree(QWidget* parent) : QTreeWidget(parent) {
    setColumnCount(1);
    header()->hide();
    setEditTriggers(NoEditTriggers);
    setItemsExpandable(false);
    setExpandsOnDoubleClick(false);
    setRootIsDecorated(false);
    setIconSize(QSize(16, 16));
    setSelectionMode(SingleSelection);
    // Always expanded: a collapse that gets through anyway is undone.
    connect(this, &QTreeWidget::itemCollapsed, this, [this](QTreeWidgetItem* item) { expandItem(item); });
}

int TSwitchTree::Image(const QTreeWidgetItem* item) {
    return item->data(0, kImageRole).toInt();
}

void TSwitchTree::SetImage(QTreeWidgetItem* item, int image) {
    item->setData(0, kImageRole, image);
    const QTreeWidget* tree = item->treeWidget();
    item->setIcon(0, SwitchIcon(image, tree ? tree->palette() : QPalette()));
}

int TSwitchTree::Number(const QTreeWidgetItem* item) {
    return item->data(0, kNumberRole).toInt();
}

void TSwitchTree::SetNumber(QTreeWidgetItem* item, int number) {
    item->setData(0, kNumberRole, number);
}

QRect TSwitchTree::ImageRect(QTreeWidgetItem* item) const {
    const QModelIndex index = indexFromItem(item);
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    option.rect = visualRect(index);
    option.index = index;
    option.features |= QStyleOptionViewItem::HasDecoration | QStyleOptionViewItem::HasDisplay;
    option.icon = item->icon(0);
    option.text = item->text(0);
    option.decorationSize = iconSize();
    return style()->subElementRect(QStyle::SE_ItemViewItemDecoration, &option, this);
}

void TSwitchTree::mousePressEvent(QMouseEvent* event) {
    QTreeWidget::mousePressEvent(event);
    if (event->button() != Qt::LeftButton) {
        return;
    }
    QTreeWidgetItem* item = itemAt(event->position().toPoint());
    if (item && ImageRect(item).contains(event->position().toPoint())) {
        Q_EMIT ImageClicked(item);
    }
}

} // namespace sw
