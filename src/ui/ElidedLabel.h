#pragma once

#include <QWidget>

// One line of text shortened in the middle ("Long…name.wav") to the width it
// is given, so a long path never widens the bar that holds it. While the text
// is shortened, its tooltip holds the whole of it.
class ElidedLabel : public QWidget {
    Q_OBJECT

public:
    explicit ElidedLabel(QWidget* parent = nullptr);

    QString text() const { return fullText; }
    void setText(const QString& text);
    void setTextColor(const QColor& color);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void refreshToolTip();

    QString fullText;
};
