// SPDX-License-Identifier: GPL-3.0-or-later

#include "DropZone.h"

#include "DarkTheme.h"

#include <QLabel>
#include <QPainter>
#include <QSvgRenderer>
#include <QVBoxLayout>

QPixmap waveformGlyph(int side, const QColor& color, qreal devicePixelRatio) {
    QPixmap pixmap(QSize(side, side) * devicePixelRatio);
    pixmap.setDevicePixelRatio(devicePixelRatio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    QSvgRenderer(QStringLiteral(":/chanfuse/waveform.svg"))
        .render(&painter, QRectF(0, 0, side, side));
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(QRectF(0, 0, side, side), color);
    return pixmap;
}

namespace {

QLabel* centredText(const QString& text, qreal scale, const QColor& color, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    QFont font = label->font();
    font.setPointSizeF(font.pointSizeF() * scale);
    label->setFont(font);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, color);
    label->setPalette(palette);
    label->setAlignment(Qt::AlignCenter);
    return label;
}

} // namespace

DropZone::DropZone(QWidget* parent) : QWidget(parent) {
    auto* icon = new QLabel(this);
    icon->setPixmap(waveformGlyph(48, ThemeColors::secondaryText(), devicePixelRatioF()));
    icon->setAlignment(Qt::AlignCenter);

    auto* layout = new QVBoxLayout(this);
    layout->setSpacing(16);
    layout->addStretch();
    layout->addWidget(icon);
    layout->addWidget(centredText(QStringLiteral("Drag & drop audio files or folder here"), 1.4,
                                  ThemeColors::secondaryText(), this));
    layout->addWidget(
        centredText(QStringLiteral("Supported formats: WAV, AIFF, FLAC, MP3, M4A, AAC, WMA, OGG"),
                    0.85, ThemeColors::tertiaryText(), this));
    layout->addStretch();
}
