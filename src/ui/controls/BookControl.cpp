#include "ui/controls/BookControl.h"

#include <QString>
#include <algorithm>

namespace sw {

TBookControl::TBookControl(QWidget* parent) : QWidget(parent) {
    resize(kDefaultWidth, kDefaultHeight);
}

TBookControl::~TBookControl() {
    // The pages are destroyed with the other children after this body; they must not call back.
    for (TBookPage* page : FPages) {
        page->FBookControl = nullptr;
    }
    FPages.clear();
    FActivePage = nullptr;
}

void TBookControl::SetBorderWidth(int width) {
    FBorderWidth = std::max(width, 0);
    for (TBookPage* page : FPages) {
        page->setGeometry(PageRect());
    }
    update();
}

TBookPage* TBookControl::Pages(int index) const {
    return index >= 0 && index < PageCount() ? FPages[static_cast<size_t>(index)] : nullptr;
}

int TBookControl::ActivePageIndex() const {
    return FActivePage ? FActivePage->PageIndex() : -1;
}

QRect TBookControl::PageRect() const {
    return rect().adjusted(FBorderWidth, FBorderWidth, -FBorderWidth, -FBorderWidth);
}

void TBookControl::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    for (TBookPage* page : FPages) {
        page->setGeometry(PageRect());
    }
    update();
}

void TBookControl::SetActivePage(TBookPage* page) {
    if (page && page->FBookControl != this) {
        return;
    }
    bool allowChange = true;
    Q_EMIT Changing(allowChange);
    if (!allowChange || page == FActivePage) {
        return;
    }
    QWidget* focused = window()->focusWidget();
    const bool focusOnOld = FActivePage && focused && FActivePage->isAncestorOf(focused);
    if (focusOnOld) {
        setFocus();
        if (window()->focusWidget() != this) {
            return;
        }
    }
    if (page) {
        page->setGeometry(PageRect());
        page->raise();
        page->show();
        if (focusOnOld) {
            // Any shown, enabled page can hold the focus for a moment; it hands it on below.
            if (page->isEnabled() && page->isVisible()) {
                page->setFocus();
            } else {
                setFocus();
            }
        }
    }
    TBookPage* old = FActivePage;
    if (old) {
        old->hide();
    }
    FActivePage = page;
    if (page && window()->focusWidget() == page) {
        // The focus chain runs in creation order through the whole window, not page by page.
        for (QWidget* next = page->nextInFocusChain(); next && next != page;
             next = next->nextInFocusChain()) {
            if (page->isAncestorOf(next) && (next->focusPolicy() & Qt::TabFocus) && next->isEnabled() &&
                next->isVisibleTo(page)) {
                next->setFocus(Qt::TabFocusReason);
                break;
            }
        }
    }
    Q_EMIT Change();
}

void TBookControl::SelectPage(int index) {
    SetActivePage(Pages(index));
}

void TBookControl::InsertPage(TBookPage* page) {
    FPages.push_back(page);
    page->setGeometry(PageRect());
    page->setVisible(page == FActivePage);
}

void TBookControl::RemovePage(TBookPage* page) {
    const auto found = std::find(FPages.begin(), FPages.end(), page);
    if (found == FPages.end()) {
        return;
    }
    TBookPage* next = nullptr;
    if (page == FActivePage && FPages.size() > 1) {
        const auto after = found + 1;
        next = after == FPages.end() ? FPages.front() : *after;
    }
    FPages.erase(found);
    page->FBookControl = nullptr;
    if (page == FActivePage) {
        SetActivePage(next);
        // Even a refused change cannot keep a page that is leaving.
        if (FActivePage == page) {
            FActivePage = nullptr;
        }
    }
}

void TBookControl::MovePage(TBookPage* page, int index) {
    const auto found = std::find(FPages.begin(), FPages.end(), page);
    if (found == FPages.end()) {
        return;
    }
    FPages.erase(found);
    FPages.insert(FPages.begin() + index, page);
}

TBookPage::TBookPage(TBookControl* bookControl) : QWidget(bookControl) {
    hide();
    SetBookControl(bookControl);
}

TBookPage::~TBookPage() {
    if (FBookControl) {
        FBookControl->RemovePage(this);
    }
}

void TBookPage::SetBookControl(TBookControl* bookControl) {
    if (bookControl == FBookControl) {
        return;
    }
    if (FBookControl) {
        FBookControl->RemovePage(this);
    }
    FBookControl = bookControl;
    if (bookControl) {
        if (parentWidget() != bookControl) {
            setParent(bookControl);
        }
        bookControl->InsertPage(this);
    }
}

int TBookPage::PageIndex() const {
    if (!FBookControl) {
        return -1;
    }
    const auto& pages = FBookControl->FPages;
    return static_cast<int>(std::find(pages.begin(), pages.end(), this) - pages.begin());
}

void TBookPage::SetPageIndex(int index) {
    if (!FBookControl) {
        return;
    }
    const int last = FBookControl->PageCount() - 1;
    if (index < 0 || index > last) {
        throw EPageIndexError(
            QString::asprintf("%d is an invalid PageIndex value.  PageIndex must be between 0 and %d.", index,
                              last)
                .toStdString());
    }
    FBookControl->MovePage(this, index);
}

void TBookPage::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    Q_EMIT Shown();
}

void TBookPage::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    Q_EMIT Hidden();
}

} // namespace sw
