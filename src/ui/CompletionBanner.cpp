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
      animation(this, "reveal") {
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

void CompletionBanner::setMessage(const QString& message, bool offersFailures) {
    const bool buttonChanges = offersFailures == showButton->isHidden();
    showButton->setVisible(offersFailures);
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
    if (!showButton->isHidden())
        size.rwidth() += showButton->sizeHint().width() + paddingX / 2;
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
    const QSize button = showButton->sizeHint();
    showButton->setGeometry(width() - shadowRoom - paddingX / 2 - button.width(),
                            (height() - button.height()) / 2, button.width(), button.height());
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
    if (!showButton->isHidden())
        textArea.setRight(showButton->x() - paddingX / 2);
    painter.drawText(textArea, Qt::AlignCenter, text);
}

void CompletionBanner::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton)
        emit clicked();
}
