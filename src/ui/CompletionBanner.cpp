// SPDX-License-Identifier: GPL-3.0-or-later

#include "CompletionBanner.h"

#include "DarkTheme.h"

#include <QGraphicsDropShadowEffect>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>

namespace {

constexpr int paddingX = 24;
constexpr int paddingY = 14;
constexpr int radius = 12;
constexpr int slideDistance = 24;
// Room around the pill for the shadow, which is drawn outside the shape.
constexpr int shadowRoom = 12;

} // namespace

CompletionBanner::CompletionBanner(QWidget* parent)
    : QWidget(parent), showButton(new QPushButton(QStringLiteral("Show"), this)),
      undoButton(new QPushButton(QStringLiteral("Undo"), this)), animation(this, "reveal") {
    undoButton->setObjectName(QStringLiteral("undoButton"));
    undoButton->setToolTip(QStringLiteral("Take this run back: each original where it was"));
    undoButton->hide();
    connect(undoButton, &QPushButton::clicked, this, &CompletionBanner::undoRequested);
    showButton->setObjectName(QStringLiteral("showFailuresButton"));
    showButton->setToolTip(QStringLiteral("List only the files that failed"));
    showButton->hide();
    connect(showButton, &QPushButton::clicked, this, &CompletionBanner::showFailures);
    auto* shadow = new QGraphicsDropShadowEffect(this);
    shadow->setColor(QColor(0, 0, 0, 102));
    shadow->setBlurRadius(8);
    shadow->setOffset(0, 4);
    setGraphicsEffect(shadow);
    setAttribute(Qt::WA_TranslucentBackground);
    setCursor(Qt::PointingHandCursor);

    animation.setDuration(animationMs);
    animation.setEasingCurve(QEasingCurve::InOutQuad);
    connect(&animation, &QPropertyAnimation::finished, this, [this] {
        if (!wantsShown)
            hide();
    });
    hide();
}

QFont CompletionBanner::headlineFont() const {
    QFont font = this->font();
    font.setBold(true);
    font.setPointSizeF(font.pointSizeF() * 1.1);
    return font;
}

void CompletionBanner::setMessage(const QString& message, bool offersFailures, bool offersUndo) {
    const bool buttonChanges =
        offersFailures == showButton->isHidden() || offersUndo == undoButton->isHidden();
    showButton->setVisible(offersFailures);
    undoButton->setVisible(offersUndo);
    if (message == text && !buttonChanges)
        return;
    text = message;
    reposition();
    update();
}

QSize CompletionBanner::sizeHint() const {
    const QRect textBounds =
        QFontMetrics(headlineFont()).boundingRect(QRect(0, 0, 10000, 10000), Qt::AlignCenter, text);
    QSize size =
        textBounds.size() + QSize(2 * (paddingX + shadowRoom), 2 * (paddingY + shadowRoom));
    for (const QPushButton* button : {showButton, undoButton}) {
        if (!button->isHidden())
            size.rwidth() += button->sizeHint().width() + paddingX / 2;
    }
    return size;
}

void CompletionBanner::setShown(bool shown) {
    if (shown == wantsShown)
        return;
    wantsShown = shown;
    animation.stop();
    animation.setStartValue(revealed);
    animation.setEndValue(shown ? 1.0 : 0.0);
    if (shown) {
        reposition();
        show();
        raise();
    }
    animation.start();
}

void CompletionBanner::setReveal(qreal value) {
    revealed = value;
    reposition();
    update();
}

void CompletionBanner::reposition() {
    if (!parentWidget())
        return;
    const QSize size = sizeHint();
    const QRect area = parentWidget()->rect();
    const int bottom =
        area.bottom() - bottomMargin + shadowRoom + int((1.0 - revealed) * slideDistance);
    setGeometry(area.center().x() - size.width() / 2, bottom - size.height() + 1, size.width(),
                size.height());
    // The buttons line up at the right end, Show outermost.
    int right = width() - shadowRoom - paddingX / 2;
    for (QPushButton* button : {showButton, undoButton}) {
        if (button->isHidden())
            continue;
        const QSize hint = button->sizeHint();
        right -= hint.width();
        button->setGeometry(right, (height() - hint.height()) / 2, hint.width(), hint.height());
        right -= paddingX / 2;
    }
    buttonsLeft = right + paddingX / 2;
}

QRect CompletionBanner::shadowFreeRect() const {
    return rect().adjusted(shadowRoom, shadowRoom, -shadowRoom, -shadowRoom);
}

void CompletionBanner::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    // Text and pill fade together; the shadow follows the painted alpha.
    painter.setOpacity(revealed);
    painter.setPen(Qt::NoPen);
    painter.setBrush(ThemeColors::bannerFill());
    painter.drawRoundedRect(shadowFreeRect(), radius, radius);
    painter.setPen(Qt::white);
    painter.setFont(headlineFont());
    QRect textArea = shadowFreeRect();
    if (!showButton->isHidden() || !undoButton->isHidden())
        textArea.setRight(buttonsLeft - paddingX / 2);
    painter.drawText(textArea, Qt::AlignCenter, text);
}

void CompletionBanner::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton)
        emit clicked();
}
