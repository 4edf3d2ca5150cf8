#pragma once

#include <QWidget>
#include <vector>

namespace sw {

// A plain container without bevels that takes its parent's colour. A control docked into it lines up
// along its side, in docking order, and the container takes that control's size along that side: its
// height for the top and bottom, its width for the left and right. Whatever is docked last to no
// side fills the rest.
class TContainer : public QWidget {
    Q_OBJECT
public:
    static constexpr int kDefaultWidth = 185;
    static constexpr int kDefaultHeight = 41;

    enum class TDockSide { Top, Bottom, Left, Right, Client };

    explicit TContainer(QWidget* parent = nullptr);
    ~TContainer() override;

    void Dock(QWidget* control, TDockSide side);
    QSize sizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct TDocked {
        QWidget* Control;
        TDockSide Side;
    };
    void Arrange();

    std::vector<TDocked> FDocked;
    bool FArranging = false;
};

} // namespace sw
