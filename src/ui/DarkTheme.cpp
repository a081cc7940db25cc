// SPDX-License-Identifier: GPL-3.0-or-later

#include "DarkTheme.h"

#include <QApplication>
#include <QPalette>
#include <QPushButton>
#include <QStyleFactory>
#include <QToolTip>

namespace ThemeColors {

QColor accent() {
    return QColor(48, 176, 80);
}
QColor windowBackground() {
    return QColor(38, 38, 38);
}
QColor sheetBackground() {
    return QColor(31, 31, 31);
}
QColor secondaryText() {
    return QColor(255, 255, 255, 140);
}
QColor tertiaryText() {
    return QColor(255, 255, 255, 90);
}
QColor destructive() {
    return QColor(255, 69, 58);
}
QColor attention() {
    return QColor(255, 214, 10);
}
QColor rowHighlight() {
    return QColor(10, 132, 255, 51);
}
QColor bannerFill() {
    return QColor(48, 209, 88, 230);
}

} // namespace ThemeColors

void applyDarkTheme(QApplication& app) {
    app.setStyle(QStyleFactory::create(QStringLiteral("Fusion")));

    const QColor text(235, 235, 235);
    const QColor disabledText(255, 255, 255, 70);
    QPalette palette;
    palette.setColor(QPalette::Window, ThemeColors::windowBackground());
    palette.setColor(QPalette::WindowText, text);
    palette.setColor(QPalette::Base, QColor(30, 30, 30));
    palette.setColor(QPalette::AlternateBase, QColor(44, 44, 44));
    palette.setColor(QPalette::ToolTipBase, QColor(56, 56, 56));
    palette.setColor(QPalette::ToolTipText, text);
    palette.setColor(QPalette::PlaceholderText, ThemeColors::tertiaryText());
    palette.setColor(QPalette::Text, text);
    palette.setColor(QPalette::Button, QColor(62, 62, 62));
    palette.setColor(QPalette::ButtonText, text);
    palette.setColor(QPalette::BrightText, Qt::white);
    palette.setColor(QPalette::Light, QColor(80, 80, 80));
    palette.setColor(QPalette::Midlight, QColor(70, 70, 70));
    palette.setColor(QPalette::Mid, QColor(50, 50, 50));
    palette.setColor(QPalette::Dark, QColor(25, 25, 25));
    palette.setColor(QPalette::Shadow, QColor(0, 0, 0));
    palette.setColor(QPalette::Highlight, ThemeColors::accent());
    palette.setColor(QPalette::HighlightedText, Qt::white);
    palette.setColor(QPalette::Link, ThemeColors::accent());
    palette.setColor(QPalette::Disabled, QPalette::WindowText, disabledText);
    palette.setColor(QPalette::Disabled, QPalette::Text, disabledText);
    palette.setColor(QPalette::Disabled, QPalette::ButtonText, disabledText);
    palette.setColor(QPalette::Disabled, QPalette::Highlight, QColor(70, 70, 70));
    app.setPalette(palette);
    // Tooltips take their palette from the platform theme, not the application.
    QToolTip::setPalette(palette);
}

void makeProminent(QPushButton* button) {
    QPalette palette = button->palette();
    for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
        palette.setColor(group, QPalette::Button, ThemeColors::accent());
        palette.setColor(group, QPalette::ButtonText, Qt::white);
    }
    button->setPalette(palette);
    button->setDefault(true);
}

QPalette checkBoxPalette(QPalette palette) {
    for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive})
        palette.setColor(group, QPalette::Base, QColor(74, 74, 74));
    return palette;
}

void tintLabel(QAbstractButton* button, const QColor& color) {
    QPalette palette = button->palette();
    for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive})
        palette.setColor(group, QPalette::ButtonText, color);
    button->setPalette(palette);
}
