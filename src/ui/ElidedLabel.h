// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QWidget>

// One line of text shortened in the middle ("Long…name.wav") to the width it
// is given, so a long path never widens the bar that holds it. While the text
// is shortened, its tooltip holds the whole of it. A text may name the one
// part that can be shortened (a file name); the rest, the counts that matter,
// is always shown whole and sets the label's minimum width.
class ElidedLabel : public QWidget {
    Q_OBJECT

public:
    explicit ElidedLabel(QWidget* parent = nullptr);

    QString text() const { return fullText; }
    void setText(const QString& text);
    // Only `length` characters from `start` may be shortened.
    void setText(const QString& text, qsizetype start, qsizetype length);
    void setTextColor(const QColor& color);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void refreshToolTip();
    QString shownText() const;

    QString fullText;
    qsizetype elidableStart = 0;
    qsizetype elidableLength = -1; // the whole text
};
