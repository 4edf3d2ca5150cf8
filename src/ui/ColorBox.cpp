#include "ui/ColorBox.h"

#include "platform/shell/OperatorPrompts.h"

#include <QPainter>
#include <QStyledItemDelegate>

namespace sw {

namespace {

class TFixedHeightDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        return {QStyledItemDelegate::sizeHint(option, index).width(), TColorBox::kItemHeight};
    }
};

constexpr int kColorRole = Qt::UserRole;

// A swatch with a thin outline, so that white and the face colour still show as a swatch.
QIcon Swatch(const QColor& color, const QSize& size) {
    QPixmap pixmap(size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.fillRect(QRect(QPoint(0, 0), size), ColorToQColor(clWindowText));
    painter.fillRect(QRect(QPoint(1, 1), size - QSize(2, 2)), color);
    return QIcon(pixmap);
}

} // namespace

TColorBox::TColorBox(bool withSystemColors, QWidget* parent) : QComboBox(parent) {
    setItemDelegate(new TFixedHeightDelegate(this));
    setIconSize(QSize(22, 11));
    addItem(QStringLiteral("Custom..."));
    SetCustomColor(clBlack);
    std::vector<const std::vector<TNamedColor>*> lists = {&StandardColors(), &ExtendedColors()};
    if (withSystemColors) {
        lists.push_back(&SystemColors());
    }
    for (const std::vector<TNamedColor>* list : lists) {
        for (const TNamedColor& named : *list) {
            addItem(QString::fromUtf8(named.Name));
            const int index = count() - 1;
            setItemData(index, named.Color, kColorRole);
            setItemIcon(index, Swatch(ColorToQColor(named.Color), iconSize()));
        }
    }
    // A scrolling list of 16 rather than a menu as tall as the screen.
    setStyleSheet(QStringLiteral("QComboBox { combobox-popup: 0; }"));
    setMaxVisibleItems(16);
    connect(this, &QComboBox::activated, this, [this](int index) { ItemActivated(index); });
    FPreviousIndex = currentIndex();
}

TColor TColorBox::Selected() const {
    return currentIndex() < 0 ? clBlack : static_cast<TColor>(currentData(kColorRole).toInt());
}

void TColorBox::SetSelected(TColor color) {
    int index = -1;
    for (int i = kCustomIndex + 1; i < count() && index < 0; ++i) {
        if (static_cast<TColor>(itemData(i, kColorRole).toInt()) == color) {
            index = i;
        }
    }
    if (index < 0) {
        SetCustomColor(color);
        index = kCustomIndex;
    }
    setCurrentIndex(index);
    FPreviousIndex = index;
}

void TColorBox::SetCustomColor(TColor color) {
    setItemData(kCustomIndex, color, kColorRole);
    setItemIcon(kCustomIndex, Swatch(ColorToQColor(color), iconSize()));
}

void TColorBox::ItemActivated(int index) {
    if (index == kCustomIndex) {
        const TColor current =
            FPreviousIndex >= 0 ? static_cast<TColor>(itemData(FPreviousIndex, kColorRole).toInt()) : clBlack;
        const std::optional<int32_t> chosen =
            Prompts().ChooseColor(static_cast<int32_t>(ColorToRGB(current)));
        if (!chosen) {
            setCurrentIndex(FPreviousIndex);
            return;
        }
        SetCustomColor(*chosen & 0x00FFFFFF);
        setCurrentIndex(kCustomIndex);
    }
    FPreviousIndex = currentIndex();
}

} // namespace sw
