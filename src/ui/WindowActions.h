// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QObject>

class QAction;
class QActionGroup;
class QMenuBar;
class QWidget;

// The window's commands, each with its keys: the menu bar lists them, the
// toolbar's buttons trigger them and show their keys in their tooltips. The
// actions only announce; the window decides what each does.
class WindowActions : public QObject {
    Q_OBJECT

public:
    explicit WindowActions(QWidget* window);

    // File
    QAction* const openFolder;
    QAction* const scan;
    QAction* const stop;
    QAction* const quit;
    // Edit
    QAction* const undoConversion;
    QAction* const selectAll;
    QAction* const selectNone;
    QAction* const find;
    QAction* const preferences;
    // View
    QActionGroup* const showGroup;
    QAction* const showAll;
    QAction* const showFakeStereo;
    QAction* const showFailures;
    QAction* const infoLog;
    QAction* const history;
    // Help
    QAction* const shortcuts;
    QAction* const about;

    QMenuBar* makeMenuBar(QWidget* parent) const;

    // "Scan (F5)": a control's tooltip naming the action's first key.
    static QString hint(const QString& text, const QAction* action);
    // Every action with keys, as "Name<tab>Keys" lines for the shortcuts list.
    QStringList shortcutLines() const;
};
