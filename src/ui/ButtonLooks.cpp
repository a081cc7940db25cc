#include "ButtonLooks.h"

#include "DarkTheme.h"

#include <QPushButton>

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
