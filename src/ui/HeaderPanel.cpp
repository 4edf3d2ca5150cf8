#include "ui/HeaderPanel.h"

#include "platform/color/Colors.h"

namespace sw {

QLabel* CreateHeaderPanel(QWidget* parent, qreal fontScale) {
    auto* header = new QLabel(parent);
    header->setObjectName(QStringLiteral("PanelHeader"));
    header->setAutoFillBackground(true);
    QPalette palette = header->palette();
    palette.setColor(QPalette::Window, ColorToQColor(clInactiveCaption));
    palette.setColor(QPalette::WindowText, ColorToQColor(clInactiveCaptionText));
    header->setPalette(palette);
    QFont font = header->font();
    font.setBold(true);
    font.setPointSizeF(font.pointSizeF() * fontScale);
    header->setFont(font);
    return header;
}

} // namespace sw
