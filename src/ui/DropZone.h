// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QWidget>

// What the content area shows while there is nothing to list: a sound-wave
// picture and where to drop files. Only a picture; the window takes the drops.
class DropZone : public QWidget {
    Q_OBJECT

public:
    explicit DropZone(QWidget* parent = nullptr);
};

// The sound-wave glyph at `side` pixels, in one colour.
QPixmap waveformGlyph(int side, const QColor& color, qreal devicePixelRatio);
