#pragma once

#include <QString>
#include <string>

class QToolBar;
class QWidget;

namespace sw {

// A field read as a decimal integer, 0 when it is not one (empty, other characters, out of range).
int DecimalOrZero(const std::string& text);

inline QString ToQString(const std::string& text) {
    return QString::fromStdString(text);
}

// A column's design width, widened when the view's font needs more room for sample (the design's
// widths were set for a smaller font than most desktops use).
int ColumnWidthFor(const QWidget& view, int designWidth, const QString& sample);

// The vertical bar of command buttons on a view's right edge.
QToolBar* CreateCommandBar(const QString& objectName, QWidget* parent);

} // namespace sw
