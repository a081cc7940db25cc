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

    // Keeps the reader's scroll position: new lines extend the text below.
    void setLines(const QStringList& lines);
    QString shownText() const;

signals:
    void closeRequested();

private:
    void copyToClipboard() const;

    QStringList lines;
    QPlainTextEdit* const textView;
};
