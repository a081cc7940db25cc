#pragma once

#include <QColor>
#include <QPalette>

class QAbstractButton;
class QPushButton;

// A filled button in the accent colour for the main action of a bar; it keeps
// the ordinary look while disabled.
void makeProminent(QPushButton* button);

// Fusion fills a checkbox with the base colour, which vanishes on the dark
// rows and bars; this lifts it.
QPalette checkBoxPalette(QPalette palette);

// A bordered button whose label is drawn in `color` while enabled.
void tintLabel(QAbstractButton* button, const QColor& color);
