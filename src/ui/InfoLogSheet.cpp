// SPDX-License-Identifier: GPL-3.0-or-later

#include "InfoLogSheet.h"

#include "DarkTheme.h"
#include "viewmodel/ContentViewModel.h"

#include <QClipboard>
#include <QFontDatabase>
#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QVBoxLayout>

InfoLogSheet::InfoLogSheet(QWidget* parent) : QDialog(parent), textView(new QPlainTextEdit(this)) {
    setWindowTitle(QStringLiteral("Info Log"));
    setWindowModality(Qt::WindowModal);
    setFixedSize(600, 400);
    QPalette sheetPalette = palette();
    sheetPalette.setColor(QPalette::Window, ThemeColors::sheetBackground());
    sheetPalette.setColor(QPalette::Base, ThemeColors::sheetBackground());
    setPalette(sheetPalette);
    setAutoFillBackground(true);

    auto* title = new QLabel(QStringLiteral("Info Log"), this);
    QFont headline = title->font();
    headline.setBold(true);
    title->setFont(headline);
    auto* copy = new QPushButton(QStringLiteral("Copy"), this);
    copy->setObjectName(QStringLiteral("copyButton"));
    copy->setAutoDefault(false);
    auto* close = new QPushButton(QStringLiteral("Close"), this);
    close->setObjectName(QStringLiteral("closeButton"));
    close->setAutoDefault(false);
    connect(copy, &QPushButton::clicked, this, &InfoLogSheet::copyToClipboard);
    connect(close, &QPushButton::clicked, this, &InfoLogSheet::closeRequested);

    auto* titleRow = new QHBoxLayout;
    titleRow->setContentsMargins(12, 10, 12, 10);
    titleRow->addWidget(title);
    titleRow->addStretch();
    titleRow->addWidget(copy);
    titleRow->addWidget(close);

    auto* separator = new QFrame(this);
    separator->setFrameShape(QFrame::HLine);
    separator->setFrameShadow(QFrame::Plain);
    separator->setStyleSheet(QStringLiteral("color: rgba(255, 255, 255, 40)"));

    textView->setReadOnly(true);
    textView->setFrameShape(QFrame::NoFrame);
    textView->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    textView->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    textView->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    textView->document()->setDocumentMargin(8);
    // The view holds what the log holds; older lines leave at the top.
    textView->setMaximumBlockCount(int(ContentViewModel::maximumLogLines));

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addLayout(titleRow);
    layout->addWidget(separator);
    layout->addWidget(textView, 1);
    showLog({}, 0);
}

void InfoLogSheet::showLog(const QStringList& newLines, qint64 loggedCount) {
    if (loggedCount == shownCount)
        return;
    const qint64 unseen = loggedCount - shownCount;
    lines = newLines;
    QScrollBar* scroll = textView->verticalScrollBar();
    const int position = scroll->value();
    if (shownCount <= 0 || unseen > lines.size()) {
        textView->setPlainText(lines.isEmpty() ? QStringLiteral("No log entries yet.")
                                               : lines.join(QLatin1Char('\n')));
    } else {
        for (qsizetype index = lines.size() - unseen; index < lines.size(); ++index)
            textView->appendPlainText(lines[index]);
    }
    shownCount = loggedCount;
    scroll->setValue(position);
}

void InfoLogSheet::copyToClipboard() const {
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    clipboard->setText(lines.join(QLatin1Char('\n')));
}
