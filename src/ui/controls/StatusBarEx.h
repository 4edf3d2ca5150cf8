#pragma once

#include <QLabel>
#include <QStatusBar>
#include <vector>

namespace sw {

// A status bar of fixed-width text panels, left to right, that also holds child controls.
class TStatusBarEx : public QStatusBar {
    Q_OBJECT
public:
    explicit TStatusBarEx(QWidget* parent = nullptr);

    // Appends a panel; returns its index.
    int AddPanel(int width, Qt::Alignment alignment = Qt::AlignLeft, const QString& text = {});
    int PanelCount() const { return static_cast<int>(FPanels.size()); }
    QLabel* Panels(int index) const;
    QString PanelText(int index) const;
    void SetPanelText(int index, const QString& text);

private:
    std::vector<QLabel*> FPanels;
};

} // namespace sw
