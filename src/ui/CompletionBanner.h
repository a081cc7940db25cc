// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QPropertyAnimation>
#include <QWidget>

class QPushButton;

// The green "Congratulations!" banner that rises at the bottom of the window
// when a conversion run ends. A click on it asks to hide it (clicked); the
// owner then calls setShown(false). When files failed, its "Show" button asks
// for the list of failures (showFailures); its "Undo" button asks to take the
// run back (undoRequested), when it can be. Showing and hiding ease in and
// out over 0.3 s, fading and sliding together.
class CompletionBanner : public QWidget {
    Q_OBJECT
    Q_PROPERTY(qreal reveal READ reveal WRITE setReveal)

public:
    static constexpr int animationMs = 300;
    static constexpr int bottomMargin = 60;

    explicit CompletionBanner(QWidget* parent = nullptr);

    void setMessage(const QString& message, bool offersFailures = false, bool offersUndo = false);
    QString message() const { return text; }

    // Animates towards shown or hidden; repeated calls with the same value
    // change nothing.
    void setShown(bool shown);
    bool isShown() const { return wantsShown; }

    // Places the banner in its parent: centred, 60 px above the bottom edge,
    // lowered by the part of the slide not yet done.
    void reposition();

    qreal reveal() const { return revealed; }
    void setReveal(qreal value);

    QSize sizeHint() const override;

signals:
    void clicked();
    void showFailures();
    void undoRequested();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    QFont headlineFont() const;
    QRect shadowFreeRect() const;

    QString text;
    QPushButton* const showButton;
    QPushButton* const undoButton;
    // Where the leftmost shown button begins.
    int buttonsLeft = 0;
    bool wantsShown = false;
    qreal revealed = 0.0;
    QPropertyAnimation animation;
};
