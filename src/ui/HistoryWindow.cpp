// SPDX-License-Identifier: GPL-3.0-or-later

#include "HistoryWindow.h"

#include "viewmodel/ContentViewModel.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

enum Column { nameColumn, filesColumn, savedColumn, behaviorColumn, stateColumn };

QString stateOf(const JournalFile& file) {
    if (file.interrupted())
        return QStringLiteral("interrupted");
    if (file.undone)
        return QStringLiteral("undone");
    if (!file.canBeUndone())
        return QStringLiteral("cannot be undone (overwritten)");
    return {};
}

QString wentTo(const JournalFile& file) {
    if (!file.completion)
        return {};
    switch (file.completion->disposition) {
    case Disposition::trashed:
        return QStringLiteral("original in the Trash");
    case Disposition::backedUp:
        return QStringLiteral("original in _backup");
    case Disposition::kept:
        return QStringLiteral("original kept beside");
    case Disposition::overwritten:
        break;
    }
    return QStringLiteral("original overwritten");
}

} // namespace

HistoryWindow::HistoryWindow(ContentViewModel& model, QWidget* parent)
    : QDialog(parent), model(model), runs(new QTreeWidget(this)),
      undoButton(new QPushButton(QStringLiteral("Undo"), this)) {
    setObjectName(QStringLiteral("historyWindow"));
    setWindowTitle(QStringLiteral("History"));
    resize(760, 420);
    runs->setObjectName(QStringLiteral("historyTree"));
    runs->setHeaderLabels({QStringLiteral("Run"), QStringLiteral("Files"),
                           QStringLiteral("Space saved"), QStringLiteral("Behavior"),
                           QStringLiteral("State")});
    runs->setSelectionMode(QAbstractItemView::ExtendedSelection);
    // Paths take the room; the other columns fit what they hold.
    runs->header()->setStretchLastSection(false);
    runs->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    runs->header()->setSectionResizeMode(nameColumn, QHeaderView::Stretch);
    runs->setAccessibleName(QStringLiteral("Conversion runs"));
    undoButton->setObjectName(QStringLiteral("historyUndoButton"));
    undoButton->setToolTip(QStringLiteral("Take back the run chosen, or the files picked in it"));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    buttons->addButton(undoButton, QDialogButtonBox::ActionRole);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(runs);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(undoButton, &QPushButton::clicked, this, &HistoryWindow::undoChosen);
    connect(&model, &ContentViewModel::historyChanged, this, &HistoryWindow::refresh);
    connect(&model, &ContentViewModel::changed, this,
            [this] { undoButton->setEnabled(!this->model.isUndoing()); });
    refresh();
}

void HistoryWindow::refresh() {
    runs->clear();
    for (const JournalRun& run : model.history()) {
        qsizetype undone = 0;
        for (const JournalFile& file : run.files)
            undone += file.undone;
        auto* top = new QTreeWidgetItem(
            runs, {run.started.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm")) +
                       QStringLiteral("  (run %1)").arg(run.number),
                   QString::number(run.files.size()), formattedFileSize(run.spaceSaved()),
                   rawValue(run.files.first().intent.behavior),
                   undone == run.files.size() ? QStringLiteral("undone") : QString()});
        top->setData(nameColumn, Qt::UserRole, run.number);
        for (const JournalFile& file : run.files) {
            auto* child = new QTreeWidgetItem(
                top, {file.intent.original, {}, {}, wentTo(file), stateOf(file)});
            child->setData(nameColumn, Qt::UserRole, file.id);
        }
    }
}

// The run of the first item chosen: all of it when the run itself is
// chosen, otherwise the files picked in it.
void HistoryWindow::undoChosen() {
    const QList<QTreeWidgetItem*> chosen = runs->selectedItems();
    if (chosen.isEmpty())
        return;
    QTreeWidgetItem* const run =
        chosen.first()->parent() ? chosen.first()->parent() : chosen.first();
    QList<qint64> files;
    if (!chosen.contains(run)) {
        for (const QTreeWidgetItem* item : chosen) {
            if (item->parent() == run)
                files.append(item->data(nameColumn, Qt::UserRole).toLongLong());
        }
    }
    model.undoRun(run->data(nameColumn, Qt::UserRole).toLongLong(), files);
}
