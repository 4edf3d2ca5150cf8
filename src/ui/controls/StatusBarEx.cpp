#include "ui/controls/StatusBarEx.h"

namespace sw {

TStatusBarEx::TStatusBarEx(QWidget* parent) : QStatusBar(parent) {
    setSizeGripEnabled(false);
}

int TStatusBarEx::AddPanel(int width, Qt::Alignment alignment, const QString& text) {
    auto* panel = new QLabel(text, this);
    panel->setObjectName(QStringLiteral("Panel%1").arg(PanelCount()));
    panel->setFixedWidth(width);
    panel->setAlignment(alignment | Qt::AlignVCenter);
    panel->setFrameShape(QFrame::StyledPanel);
    panel->setFrameShadow(QFrame::Sunken);
    // Room for the frame so that right-aligned text does not touch it.
    panel->setContentsMargins(2, 0, 2, 0);
    addWidget(panel);
    FPanels.push_back(panel);
    return PanelCount() - 1;
}

QLabel* TStatusBarEx::Panels(int index) const {
    return index >= 0 && index < PanelCount() ? FPanels[static_cast<size_t>(index)] : nullptr;
}

QString TStatusBarEx::PanelText(int index) const {
    const QLabel* panel = Panels(index);
    return panel ? panel->text() : QString();
}

void TStatusBarEx::SetPanelText(int index, const QString& text) {
    if (QLabel* panel = Panels(index)) {
        panel->setText(text);
    }
}

} // namespace sw
