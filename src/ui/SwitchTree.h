#pragma once

#include <QIcon>
#include <QTreeWidget>

namespace sw {

// A read-only, always expanded tree whose nodes each show one of three switch images: 0 off, 1 on,
// 2 partly on. A left click on a node's image, and nowhere else, reports ImageClicked.
class TSwitchTree : public QTreeWidget {
    Q_OBJECT
public:
    static constexpr int kImageOff = 0;
    static constexpr int kImageOn = 1;
    static constexpr int kImagePartly = 2;

    explicit TSwitchTree(QWidget* parent = nullptr);

    static int Image(const QTreeWidgetItem* item);
    static void SetImage(QTreeWidgetItem* item, int image);
    // The number a node carries (category or message number).
    static int Number(const QTreeWidgetItem* item);
    static void SetNumber(QTreeWidgetItem* item, int number);
    // Where a node's image is drawn, in viewport coordinates.
    QRect ImageRect(QTreeWidgetItem* item) const;

Q_SIGNALS:
    void ImageClicked(QTreeWidgetItem* item);

protected:
    void mousePressEvent(QMouseEvent* event) override;
};

} // namespace sw
