#include "ui/controls/Container.h"

#include <QEvent>
#include <algorithm>

namespace sw {

TContainer::TContainer(QWidget* parent) : QWidget(parent) {
    setAutoFillBackground(false);
    resize(kDefaultWidth, kDefaultHeight);
}

TContainer::~TContainer() {
    // The docked controls die with the other children after this body, when the list is gone.
    for (const TDocked& docked : FDocked) {
        disconnect(docked.Control, nullptr, this, nullptr);
        docked.Control->removeEventFilter(this);
    }
    FDocked.clear();
}

QSize TContainer::sizeHint() const {
    return {kDefaultWidth, kDefaultHeight};
}

void TContainer::Dock(QWidget* control, TDockSide side) {
    if (!control) {
        return;
    }
    std::erase_if(FDocked, [control](const TDocked& docked) { return docked.Control == control; });
    control->setParent(this);
    control->installEventFilter(this);
    connect(control, &QObject::destroyed, this, [this, control] {
        std::erase_if(FDocked, [control](const TDocked& docked) { return docked.Control == control; });
    });
    FDocked.push_back({control, side});
    // The container follows the docked control across its side.
    switch (side) {
    case TDockSide::Top:
    case TDockSide::Bottom:
        resize(width(), control->height());
        break;
    case TDockSide::Left:
    case TDockSide::Right:
        resize(control->width(), height());
        break;
    case TDockSide::Client:
        break;
    }
    control->show();
    Arrange();
}

void TContainer::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    Arrange();
}

bool TContainer::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::ParentChange) {
        auto* control = static_cast<QWidget*>(watched);
        if (control->parentWidget() != this) {
            std::erase_if(FDocked, [control](const TDocked& docked) { return docked.Control == control; });
        }
    } else if (event->type() == QEvent::Resize && !FArranging) {
        Arrange();
    }
    return QWidget::eventFilter(watched, event);
}

void TContainer::Arrange() {
    FArranging = true;
    QRect rest = rect();
    for (const TDocked& docked : FDocked) {
        QWidget* control = docked.Control;
        switch (docked.Side) {
        case TDockSide::Top:
            control->setGeometry(rest.left(), rest.top(), rest.width(), control->height());
            rest.setTop(rest.top() + control->height());
            break;
        case TDockSide::Bottom:
            control->setGeometry(rest.left(), rest.bottom() + 1 - control->height(), rest.width(),
                                 control->height());
            rest.setBottom(rest.bottom() - control->height());
            break;
        case TDockSide::Left:
            control->setGeometry(rest.left(), rest.top(), control->width(), rest.height());
            rest.setLeft(rest.left() + control->width());
            break;
        case TDockSide::Right:
            control->setGeometry(rest.right() + 1 - control->width(), rest.top(), control->width(),
                                 rest.height());
            rest.setRight(rest.right() - control->width());
            break;
        case TDockSide::Client:
            break;
        }
    }
    for (const TDocked& docked : FDocked) {
        if (docked.Side == TDockSide::Client) {
            docked.Control->setGeometry(rest);
        }
    }
    FArranging = false;
}

} // namespace sw
