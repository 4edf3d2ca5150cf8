#pragma once

#include <QWidget>
#include <stdexcept>
#include <vector>

namespace sw {

class TBookPage;

// A page container without tabs: its pages fill it inside the border, and only the active page is
// shown. Changing the page can be refused by a Changing listener.
class TBookControl : public QWidget {
    Q_OBJECT
public:
    static constexpr int kDefaultBorderWidth = 4;
    static constexpr int kDefaultWidth = 289;
    static constexpr int kDefaultHeight = 193;

    explicit TBookControl(QWidget* parent = nullptr);
    ~TBookControl() override;

    int BorderWidth() const { return FBorderWidth; }
    void SetBorderWidth(int width);

    int PageCount() const { return static_cast<int>(FPages.size()); }
    TBookPage* Pages(int index) const;
    TBookPage* ActivePage() const { return FActivePage; }
    // Refused when the page belongs to another book, when a Changing listener clears the flag, or
    // when the page is already active; none hides every page.
    void SetActivePage(TBookPage* page);
    // A number outside 0 to PageCount() - 1 selects no page.
    void SelectPage(int index);
    int ActivePageIndex() const;

    QSize sizeHint() const override { return {kDefaultWidth, kDefaultHeight}; }

Q_SIGNALS:
    // Before the active page changes; clearing allowChange refuses the change.
    void Changing(bool& allowChange);
    void Change();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    friend class TBookPage;
    void InsertPage(TBookPage* page);
    void RemovePage(TBookPage* page);
    void MovePage(TBookPage* page, int index);
    QRect PageRect() const;

    std::vector<TBookPage*> FPages;
    TBookPage* FActivePage = nullptr;
    int FBorderWidth = kDefaultBorderWidth;
};

class EPageIndexError : public std::out_of_range {
public:
    using std::out_of_range::out_of_range;
};

// A page of one book control: it registers itself when its book control is set and unregisters when
// it is destroyed.
class TBookPage : public QWidget {
    Q_OBJECT
public:
    explicit TBookPage(TBookControl* bookControl = nullptr);
    ~TBookPage() override;

    TBookControl* BookControl() const { return FBookControl; }
    void SetBookControl(TBookControl* bookControl);
    // The position in the book's pages, -1 without a book.
    int PageIndex() const;
    // Moves the page; throws EPageIndexError for a position outside the pages.
    void SetPageIndex(int index);

Q_SIGNALS:
    void Shown();
    void Hidden();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    friend class TBookControl;
    TBookControl* FBookControl = nullptr;
};

} // namespace sw
