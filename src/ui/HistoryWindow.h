// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QDialog>

class ContentViewModel;
class QPushButton;
class QTreeWidget;

// The runs of the history by date, newest first, each with its files, the
// space saved and what became of the originals; a run opens to its files.
// "Undo" takes back the run chosen, or only the files picked in it, through
// the view model, as the banner's Undo does for the last run.
class HistoryWindow : public QDialog {
    Q_OBJECT

public:
    HistoryWindow(ContentViewModel& model, QWidget* parent);

private:
    void refresh();
    void undoChosen();

    ContentViewModel& model;
    QTreeWidget* const runs;
    QPushButton* const undoButton;
};
