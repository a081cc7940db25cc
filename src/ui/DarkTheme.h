#pragma once

#include <QColor>

class QApplication;

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
