// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QDialog>
#include <QStringList>

class QPlainTextEdit;

// The Info Log: the lines logged during this run, readable and copyable, in a
// window-modal sheet over the main window. It only shows what it is given;
// the window opens and closes it after the view model's showDebug.
class InfoLogSheet : public QDialog {
    Q_OBJECT

public:
    explicit InfoLogSheet(QWidget* parent = nullptr);

    // `lines` are the newest of `loggedCount` lines logged so far. Lines not
    // shown yet are appended below; the reader's scroll position and
    // selection stay where they were.
    void showLog(const QStringList& lines, qint64 loggedCount);

signals:
    void closeRequested();

private:
    void copyToClipboard() const;

    QStringList lines;
    qint64 shownCount = -1;
    QPlainTextEdit* const textView;
};
