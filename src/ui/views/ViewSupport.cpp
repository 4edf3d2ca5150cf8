#include "ui/views/ViewSupport.h"

#include <QFontMetrics>
#include <QToolBar>
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

} // namespace sw
