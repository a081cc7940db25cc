// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QColor>
#include <QPalette>

class QAbstractButton;
class QApplication;
class QPushButton;

// The application is always drawn dark with a green accent, whatever the
// desktop's theme says: Fusion is the one style that follows a palette fully.
void applyDarkTheme(QApplication& app);

// Colours shared by the window's parts.
namespace ThemeColors {

QColor accent();           // green: prominent buttons, checked controls
QColor windowBackground(); // grey 0.15
QColor sheetBackground();  // grey 0.12
QColor secondaryText();
QColor tertiaryText();
QColor destructive();  // red button labels
QColor attention();    // yellow button label
QColor rowHighlight(); // blue at 20%
QColor bannerFill();   // green at 90%

} // namespace ThemeColors

// A filled button in the accent colour for the main action of a bar; it keeps
// the ordinary look while disabled.
void makeProminent(QPushButton* button);

// Fusion fills a checkbox with the base colour, which vanishes on the dark
// rows and bars; this lifts it.
QPalette checkBoxPalette(QPalette palette);

// A bordered button whose label is drawn in `color` while enabled.
void tintLabel(QAbstractButton* button, const QColor& color);
