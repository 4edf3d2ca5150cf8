#pragma once

#include <QString>
#include <initializer_list>
#include <string>

class QAction;
class QIcon;
class QObject;
class QToolBar;
class QTreeView;
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
// Adds the action to the bar as a button with the given name.
void AddCommandButton(QToolBar* bar, QAction* action, const QString& buttonName);

QAction* CreateViewAction(const QString& objectName, const QString& caption, const QIcon& icon,
                          QObject* parent);

// A report-style list: whole rows selected one at a time, read-only, flat, headers not clickable,
// columns of the given widths.
void SetUpReportList(QTreeView* list, const QString& objectName, int iconSize,
                     std::initializer_list<int> widths);

// The page's arrangement: the list (or whatever holds it) with the command bar at its right, the
// status bar under both.
void LayOutView(QWidget* view, QWidget* content, QToolBar* commandBar, QWidget* statusBar);

} // namespace sw
