#pragma once

#include <QLineEdit>
#include <QSpinBox>

namespace sw {

// A number in an edit box coupled to an up-down control: the value stays within the range whatever is
// typed. The edit and the up-down carry their own names, as the two controls of the design.
class TUpDownEdit : public QSpinBox {
    Q_OBJECT
public:
    TUpDownEdit(const QString& editName, const QString& upDownName, const QString& caption, int minimum,
                int maximum, QWidget* parent = nullptr);

    QLineEdit* Edit() const { return lineEdit(); }
};

} // namespace sw
