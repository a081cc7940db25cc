// SPDX-License-Identifier: GPL-3.0-or-later

#include "WindowActions.h"

#include <QAction>
#include <QActionGroup>
#include <QMenuBar>
#include <QWidget>

namespace {

QAction* makeAction(QWidget* window, const char* name, const QString& text,
                    const QList<QKeySequence>& keys = {}) {
    auto* action = new QAction(text, window);
    action->setObjectName(QLatin1String(name));
    action->setShortcuts(keys);
    action->setShortcutContext(Qt::WindowShortcut);
    // Reachable by its keys even while its menu is closed.
    window->addAction(action);
    return action;
}

// The desktop's own keys first, with the one the menus show kept when the
// platform knows none.
QList<QKeySequence> standardOr(QKeySequence::StandardKey standard, const QKeySequence& fallback) {
    QList<QKeySequence> keys = QKeySequence::keyBindings(standard);
    if (!keys.contains(fallback))
        keys.prepend(fallback);
    return keys;
}

QString plain(QString text) {
    return text.remove(u'&').remove(QStringLiteral("…"));
}

} // namespace

WindowActions::WindowActions(QWidget* window)
    : QObject(window),
      openFolder(makeAction(window, "openFolderAction", QStringLiteral("&Open Folder…"),
                            {QKeySequence(Qt::CTRL | Qt::Key_O)})),
      scan(makeAction(window, "scanAction", QStringLiteral("&Scan"), {QKeySequence(Qt::Key_F5)})),
      stop(makeAction(window, "stopAction", QStringLiteral("S&top"),
                      {QKeySequence(Qt::Key_Escape)})),
      quit(makeAction(window, "quitAction", QStringLiteral("&Quit"),
                      {QKeySequence(Qt::CTRL | Qt::Key_Q)})),
      undoConversion(
          makeAction(window, "undoConversionAction", QStringLiteral("&Undo Conversion"),
                     standardOr(QKeySequence::Undo, QKeySequence(Qt::CTRL | Qt::Key_Z)))),
      selectAll(makeAction(window, "selectAllAction", QStringLiteral("Select &All Fake Stereo"),
                           {QKeySequence(Qt::CTRL | Qt::Key_A)})),
      selectNone(makeAction(window, "selectNoneAction", QStringLiteral("Select &None"),
                            {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_A)})),
      find(makeAction(window, "findAction", QStringLiteral("&Find…"),
                      standardOr(QKeySequence::Find, QKeySequence(Qt::CTRL | Qt::Key_F)))),
      preferences(makeAction(
          window, "preferencesAction", QStringLiteral("&Preferences…"),
          standardOr(QKeySequence::Preferences, QKeySequence(Qt::CTRL | Qt::Key_Comma)))),
      showGroup(new QActionGroup(this)),
      showAll(makeAction(window, "showAllAction", QStringLiteral("&All Files"))),
      showFakeStereo(makeAction(window, "showFakeStereoAction", QStringLiteral("&Fake Stereo"))),
      showFailures(makeAction(window, "showFailuresAction", QStringLiteral("F&ailures"))),
      infoLog(makeAction(window, "infoLogAction", QStringLiteral("&Info Log"),
                         {QKeySequence(Qt::CTRL | Qt::Key_L)})),
      history(makeAction(window, "historyAction", QStringLiteral("&History…"),
                         {QKeySequence(Qt::CTRL | Qt::Key_H)})),
      shortcuts(makeAction(window, "shortcutsAction", QStringLiteral("&Keyboard Shortcuts"),
                           QKeySequence::keyBindings(QKeySequence::HelpContents))),
      about(makeAction(window, "aboutAction", QStringLiteral("&About Chanfuse"))) {
    for (QAction* choice : {showAll, showFakeStereo, showFailures}) {
        choice->setCheckable(true);
        showGroup->addAction(choice);
    }
    infoLog->setCheckable(true);
    about->setMenuRole(QAction::AboutRole);
    quit->setMenuRole(QAction::QuitRole);
    preferences->setMenuRole(QAction::PreferencesRole);
}

QMenuBar* WindowActions::makeMenuBar(QWidget* parent) const {
    auto* bar = new QMenuBar(parent);
    bar->setObjectName(QStringLiteral("menuBar"));
    QMenu* file = bar->addMenu(QStringLiteral("&File"));
    file->addActions({openFolder, scan, stop});
    file->addSeparator();
    file->addAction(quit);
    QMenu* edit = bar->addMenu(QStringLiteral("&Edit"));
    edit->addAction(undoConversion);
    edit->addSeparator();
    edit->addActions({selectAll, selectNone});
    edit->addSeparator();
    edit->addAction(find);
    edit->addSeparator();
    edit->addAction(preferences);
    QMenu* view = bar->addMenu(QStringLiteral("&View"));
    view->addActions({showAll, showFakeStereo, showFailures});
    view->addSeparator();
    view->addActions({infoLog, history});
    QMenu* help = bar->addMenu(QStringLiteral("&Help"));
    help->addActions({shortcuts, about});
    return bar;
}

QString WindowActions::hint(const QString& text, const QAction* action) {
    if (action->shortcut().isEmpty())
        return text;
    return text + QStringLiteral(" (") + action->shortcut().toString(QKeySequence::NativeText) +
           u')';
}

QStringList WindowActions::shortcutLines() const {
    QStringList lines;
    for (const QAction* action : {openFolder, scan, stop, quit, undoConversion, selectAll,
                                  selectNone, find, preferences, infoLog, history, shortcuts}) {
        lines.append(plain(action->text()) + u'\t' +
                     action->shortcut().toString(QKeySequence::NativeText));
    }
    lines.append(QStringLiteral("Tick or untick the highlighted rows\tSpace"));
    lines.append(QStringLiteral("Open the row menu\tMenu, Shift+F10"));
    return lines;
}
