#include "ui/controls/BevelEx.h"
#include "ui/controls/BookControl.h"
#include "ui/controls/Container.h"
#include "ui/controls/Gradient.h"
#include "ui/controls/ImageListEx.h"
#include "ui/controls/ImageListSpeedButton.h"
#include "ui/controls/StatusBarEx.h"
#include "ui/controls/TrayIcon.h"

#include <QApplication>
#include <QLineEdit>
#include <QPalette>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

namespace sw {
namespace {

QImage Render(QWidget& widget) {
    return widget.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

QColor At(const QImage& image, int x, int y) {
    return QColor(image.pixel(x, y));
}

// A palette whose bevel shades and faces are distinct, so every pixel tells which one it is.
class TPaletteScope {
public:
    TPaletteScope() : FSaved(QApplication::palette()) {
        QPalette palette = FSaved;
        palette.setColor(QPalette::Dark, QColor(10, 20, 30));
        palette.setColor(QPalette::Light, QColor(240, 230, 220));
        palette.setColor(QPalette::Button, QColor(100, 150, 200));
        palette.setColor(QPalette::Window, QColor(50, 60, 70));
        QApplication::setPalette(palette);
    }
    ~TPaletteScope() { QApplication::setPalette(FSaved); }
    static QColor Shadow() { return {10, 20, 30}; }
    static QColor Highlight() { return {240, 230, 220}; }
    static QColor Face() { return {100, 150, 200}; }
    static QColor Window() { return {50, 60, 70}; }

private:
    QPalette FSaved;
};

// A book of five pages, each filled with its own colour.
struct TFiveBook {
    TBookControl Book;
    std::vector<TBookPage*> Pages;
    TFiveBook() {
        Book.resize(60, 40);
        for (int i = 0; i < 5; ++i) {
            auto* page = new TBookPage(&Book);
            page->setAutoFillBackground(true);
            QPalette palette = page->palette();
            palette.setColor(QPalette::Window, QColor(40 * i, 255 - 40 * i, 0));
            page->setPalette(palette);
            Pages.push_back(page);
        }
    }
};

TEST(BookControlTest, SelectingByNumberShowsOnePageAndOutOfRangeShowsNone) {
    TFiveBook five;
    five.Book.SelectPage(2);
    ASSERT_EQ(five.Book.ActivePage(), five.Pages[2]);
    EXPECT_EQ(At(Render(five.Book), 30, 20), QColor(80, 175, 0));
    five.Book.SelectPage(5);
    EXPECT_EQ(five.Book.ActivePage(), nullptr);
    for (TBookPage* page : five.Pages) {
        EXPECT_FALSE(page->isVisibleTo(&five.Book));
    }
    const QImage none = Render(five.Book);
    for (int i = 0; i < 5; ++i) {
        EXPECT_NE(At(none, 30, 20), QColor(40 * i, 255 - 40 * i, 0)) << "page " << i << " still drawn";
    }
    EXPECT_EQ(At(Render(five.Book), 2, 2), At(none, 2, 2)) << "the border is the book's own";
}

TEST(BookControlTest, PageIndexMovesPagesAndNamesBothNumbersWhenOutOfRange) {
    TFiveBook five;
    EXPECT_EQ(five.Pages[3]->PageIndex(), 3);
    five.Pages[3]->SetPageIndex(0);
    EXPECT_EQ(five.Pages[3]->PageIndex(), 0);
    EXPECT_EQ(five.Pages[0]->PageIndex(), 1);
    try {
        five.Pages[1]->SetPageIndex(7);
        FAIL() << "no error";
    } catch (const EPageIndexError& error) {
        EXPECT_STREQ(error.what(), "7 is an invalid PageIndex value.  PageIndex must be between 0 and 4.");
    }
    EXPECT_THROW(five.Pages[1]->SetPageIndex(-1), EPageIndexError);
    TBookPage loose;
    EXPECT_EQ(loose.PageIndex(), -1);
}

TEST(BookControlTest, ChangingCanRefuseAndRemovingTheActivePageActivatesTheNext) {
    TFiveBook five;
    five.Book.SelectPage(4);
    int changes = 0;
    bool refuse = true;
    QObject::connect(&five.Book, &TBookControl::Change, [&changes] { ++changes; });
    QObject::connect(&five.Book, &TBookControl::Changing, [&refuse](bool& allow) { allow = !refuse; });
    five.Book.SelectPage(1);
    EXPECT_EQ(five.Book.ActivePage(), five.Pages[4]);
    EXPECT_EQ(changes, 0);
    refuse = false;
    TBookControl other;
    TBookPage stranger(&other);
    five.Book.SetActivePage(&stranger);
    EXPECT_EQ(five.Book.ActivePage(), five.Pages[4]) << "a page of another book";

    delete five.Pages[4];
    EXPECT_EQ(five.Book.ActivePage(), five.Pages[0]) << "the next page, wrapping around";
    EXPECT_TRUE(five.Pages[0]->isVisibleTo(&five.Book));
    EXPECT_EQ(changes, 1);
    for (int i = 1; i < 4; ++i) {
        delete five.Pages[static_cast<size_t>(i)];
    }
    delete five.Pages[0];
    EXPECT_EQ(five.Book.ActivePage(), nullptr) << "the only page leaves none";
    EXPECT_EQ(five.Book.PageCount(), 0);
}

TEST(BookControlTest, FocusOnTheOldPageMovesToTheNewPagesFirstControl) {
    QWidget window;
    window.resize(200, 100);
    auto* book = new TBookControl(&window);
    book->setGeometry(0, 0, 200, 100);
    auto* first = new TBookPage(book);
    auto* second = new TBookPage(book);
    auto* firstEdit = new QLineEdit(first);
    auto* secondEdit = new QLineEdit(second);
    book->SetActivePage(first);
    window.show();
    firstEdit->setFocus();
    ASSERT_EQ(window.focusWidget(), firstEdit);
    book->SetActivePage(second);
    EXPECT_EQ(window.focusWidget(), secondEdit);
}

TEST(TrayIconTest, ShownOnlyWithAValidImageAndAShortenedHint) {
    TImageListEx images;
    QImage picture(16, 16, QImage::Format_ARGB32);
    picture.fill(Qt::red);
    images.Add(picture);
    TTrayIcon tray;
    tray.SetImageList(&images);
    tray.SetIconIndex(-5);
    EXPECT_EQ(tray.IconIndex(), -1);
    tray.SetVisible(true);
    EXPECT_FALSE(tray.Added()) << "no image at index -1";
    EXPECT_FALSE(tray.NotifyIcon().isVisible());
    tray.SetIconIndex(1);
    EXPECT_FALSE(tray.Added()) << "index 1 of one image";
    tray.SetIconIndex(0);
    EXPECT_TRUE(tray.Added());
    EXPECT_TRUE(tray.NotifyIcon().isVisible());
    EXPECT_EQ(tray.Icon().pixmap(16, 16).toImage().pixelColor(8, 8), QColor(Qt::red));

    const QString hint = QString(70, QLatin1Char('h'));
    tray.SetHint(hint);
    EXPECT_EQ(tray.Hint(), hint.left(63));
    EXPECT_EQ(tray.NotifyIcon().toolTip(), hint.left(63));

    images.Clear();
    EXPECT_FALSE(tray.Added()) << "the list's change removes the icon";
    images.Add(picture);
    EXPECT_TRUE(tray.Added());
    tray.SetVisible(false);
    EXPECT_FALSE(tray.NotifyIcon().isVisible());
}

TEST(TrayIconTest, ClicksBecomeClickAndDoubleClick) {
    TTrayIcon tray;
    int clicks = 0;
    int doubleClicks = 0;
    QObject::connect(&tray, &TTrayIcon::Click, [&clicks] { ++clicks; });
    QObject::connect(&tray, &TTrayIcon::DblClick, [&doubleClicks] { ++doubleClicks; });
    Q_EMIT tray.NotifyIcon().activated(QSystemTrayIcon::Trigger);
    Q_EMIT tray.NotifyIcon().activated(QSystemTrayIcon::DoubleClick);
    Q_EMIT tray.NotifyIcon().activated(QSystemTrayIcon::MiddleClick);
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(doubleClicks, 1);
}

TEST(GradientTest, TwoBandsFromWhiteToBlackOverTenPixels) {
    TGradient gradient;
    gradient.resize(10, 3);
    gradient.SetStartColor(clWhite);
    gradient.SetEndColor(clBlack);
    gradient.SetGradientCount(2);
    const QImage image = Render(gradient);
    for (int x = 0; x < 10; ++x) {
        EXPECT_EQ(At(image, x, 1), x < 5 ? QColor(255, 255, 255) : QColor(127, 127, 127)) << "x " << x;
    }
}

TEST(GradientTest, BandEdgesRoundHalvesToEvenAndVerticalRunsDown) {
    TGradient gradient;
    gradient.resize(3, 10);
    gradient.SetOrientation(TGradientOrientation::goVertical);
    gradient.SetStartColor(clWhite);
    gradient.SetEndColor(clBlack);
    gradient.SetGradientCount(4);
    // Band edges at 2.5 -> 2, 5 and 7.5 -> 8; colours 255, 191, 127, 63.
    const int expected[10] = {255, 255, 191, 191, 191, 127, 127, 127, 63, 63};
    const QImage image = Render(gradient);
    for (int y = 0; y < 10; ++y) {
        EXPECT_EQ(At(image, 1, y).red(), expected[y]) << "y " << y;
        EXPECT_EQ(At(image, 0, y), At(image, 2, y)) << "across the axis";
    }
    EXPECT_EQ(RoundHalfEven(5, 2), 2);
    EXPECT_EQ(RoundHalfEven(7, 2), 4);
    EXPECT_EQ(RoundHalfEven(1, 2), 0);
}

TEST(GradientTest, SectionsOutlineAndSystemColours) {
    const TPaletteScope palette;
    TGradient gradient;
    gradient.resize(101, 8);
    gradient.SetGradientCount(101);
    TGradientSection& middle = gradient.AddSection();
    EXPECT_EQ(middle.Position(), 50);
    EXPECT_EQ(middle.Color(), clBlack);
    EXPECT_EQ(gradient.AddSection().Position(), 74) << "(50 + 99) div 2";
    gradient.DeleteSection(1);
    middle.SetColor(clRed);
    gradient.SetStartColor(clBtnFace);
    gradient.SetEndColor(clRed);
    QImage image = Render(gradient);
    EXPECT_EQ(At(image, 0, 2), TPaletteScope::Face()) << "a system colour, resolved";
    EXPECT_EQ(At(image, 50, 2), QColor(255, 0, 0)) << "the section's colour at its position";
    EXPECT_EQ(At(image, 100, 2), QColor(255, 0, 0));

    gradient.SetPen({clBlue, 2});
    image = Render(gradient);
    EXPECT_EQ(At(image, 0, 0), QColor(0, 0, 255));
    EXPECT_EQ(At(image, 1, 3), QColor(0, 0, 255));
    EXPECT_EQ(At(image, 100, 1), QColor(0, 0, 255));
    EXPECT_EQ(At(image, 2, 3), TPaletteScope::Face()) << "the fill starts inside the pen";
}

TEST(BevelTest, LinesAndFramesUseTheShadowThenTheHighlight) {
    const TPaletteScope palette;
    TBevelEx bevel(nullptr, TBevelShape::bxsHorzSeparator);
    bevel.resize(6, 8);
    QImage image = Render(bevel);
    for (int y = 0; y < 8; ++y) {
        const QColor expected = y == 3   ? TPaletteScope::Shadow()
                                : y == 4 ? TPaletteScope::Highlight()
                                         : TPaletteScope::Window();
        EXPECT_EQ(At(image, 2, y), expected) << "y " << y;
    }
    bevel.SetStyle(TBevelStyle::bxsRaised);
    image = Render(bevel);
    EXPECT_EQ(At(image, 0, 3), TPaletteScope::Highlight());
    EXPECT_EQ(At(image, 5, 4), TPaletteScope::Shadow());

    bevel.SetStyle(TBevelStyle::bxsLowered);
    bevel.SetShape(TBevelShape::bxsBox);
    image = Render(bevel);
    EXPECT_EQ(At(image, 0, 7), TPaletteScope::Shadow()) << "the bottom-left corner is the left edge's";
    EXPECT_EQ(At(image, 5, 0), TPaletteScope::Highlight()) << "the top-right corner is the right edge's";
    EXPECT_EQ(At(image, 2, 0), TPaletteScope::Shadow());
    EXPECT_EQ(At(image, 2, 7), TPaletteScope::Highlight());
    EXPECT_EQ(At(image, 2, 3), TPaletteScope::Window());

    bevel.SetShape(TBevelShape::bxsFrame);
    image = Render(bevel);
    EXPECT_EQ(At(image, 2, 0), TPaletteScope::Shadow());
    EXPECT_EQ(At(image, 2, 1), TPaletteScope::Highlight());
    EXPECT_EQ(At(image, 2, 6), TPaletteScope::Highlight());
    EXPECT_EQ(At(image, 2, 7), TPaletteScope::Shadow());

    bevel.SetShape(TBevelShape::bxsVertSeparator);
    image = Render(bevel);
    EXPECT_EQ(At(image, 2, 4), TPaletteScope::Shadow());
    EXPECT_EQ(At(image, 3, 4), TPaletteScope::Highlight());
    bevel.SetShape(TBevelShape::bxsSpacer);
    image = Render(bevel);
    EXPECT_EQ(At(image, 0, 0), TPaletteScope::Window());
}

TEST(ImageListSpeedButtonTest, GlyphIsTheImageOnTheButtonFaceAndFollowsTheList) {
    const TPaletteScope palette;
    TImageListEx images(4, 4);
    QImage half(4, 4, QImage::Format_ARGB32);
    half.fill(Qt::transparent);
    half.setPixelColor(0, 0, Qt::green);
    images.Add(half);
    TImageListSpeedButton button;
    button.SetImages(&images);
    button.SetImageIndex(0);
    ASSERT_FALSE(button.Glyph().isNull());
    QImage glyph = button.Glyph().toImage();
    EXPECT_EQ(glyph.pixelColor(0, 0), QColor(Qt::green));
    EXPECT_EQ(glyph.pixelColor(3, 3), TPaletteScope::Face());
    QImage blue(4, 4, QImage::Format_ARGB32);
    blue.fill(Qt::blue);
    images.Replace(0, blue);
    EXPECT_EQ(button.Glyph().toImage().pixelColor(3, 3), QColor(Qt::blue));
    button.SetImageIndex(1);
    EXPECT_TRUE(button.Glyph().isNull());
    EXPECT_TRUE(button.icon().isNull());
}

TEST(ImageListTest, UnmaskedImagesAreOpaque) {
    TImageListEx images(2, 2);
    QImage clear(2, 2, QImage::Format_ARGB32);
    clear.fill(Qt::transparent);
    images.Add(clear);
    EXPECT_TRUE(images.Pixmap(0).hasAlpha());
    images.SetMasked(false);
    EXPECT_FALSE(images.Pixmap(0).hasAlpha());
    EXPECT_TRUE(images.Pixmap(1).isNull());
}

TEST(StatusBarAndContainerTest, PanelsKeepTheirWidthsAndDockedControlsSizeTheContainer) {
    TStatusBarEx bar;
    EXPECT_EQ(bar.AddPanel(60, Qt::AlignRight, QStringLiteral("0.0 fps")), 0);
    EXPECT_EQ(bar.AddPanel(50), 1);
    bar.resize(300, 22);
    bar.show();
    EXPECT_EQ(bar.Panels(0)->width(), 60);
    EXPECT_EQ(bar.Panels(1)->width(), 50);
    EXPECT_EQ(bar.PanelText(0), QStringLiteral("0.0 fps"));
    bar.SetPanelText(1, QStringLiteral("x"));
    EXPECT_EQ(bar.PanelText(1), QStringLiteral("x"));
    EXPECT_EQ(bar.PanelText(2), QString());

    TContainer container;
    EXPECT_EQ(container.size(), QSize(185, 41));
    auto* header = new QWidget;
    header->resize(10, 30);
    container.Dock(header, TContainer::TDockSide::Top);
    EXPECT_EQ(container.height(), 30);
    container.resize(200, 100);
    auto* body = new QWidget;
    container.Dock(body, TContainer::TDockSide::Client);
    EXPECT_EQ(header->geometry(), QRect(0, 0, 200, 30));
    EXPECT_EQ(body->geometry(), QRect(0, 30, 200, 70));
}

} // namespace
} // namespace sw
