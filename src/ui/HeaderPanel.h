#pragma once

#include <QLabel>

namespace sw {

// The bar that names the page shown below it: bold text in the inactive caption's colours.
QLabel* CreateHeaderPanel(QWidget* parent, qreal fontScale = 1.0);

} // namespace sw
