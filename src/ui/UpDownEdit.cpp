#include "ui/UpDownEdit.h"

namespace sw {

TUpDownEdit::TUpDownEdit(const QString& editName, const QString& upDownName, const QString& caption,
                         int minimum, int maximum, QWidget* parent)
    : QSpinBox(parent) {
    setObjectName(upDownName);
    setAccessibleName(caption);
    lineEdit()->setObjectName(editName);
    lineEdit()->setAccessibleName(caption);
    setRange(minimum, maximum);
    // Room for the widest value, so that no digit is ever cut off.
    setMinimumWidth(fontMetrics().horizontalAdvance(QString::number(maximum)) + 48);
}

} // namespace sw
