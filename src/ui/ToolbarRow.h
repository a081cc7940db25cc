// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QWidget>

class ContentViewModel;
class ElidedLabel;
class QButtonGroup;
class QLineEdit;
class QPushButton;
class WindowActions;

// The top row: pick, scan and stop, the "Show" filter, the folder being
// shown, the search field and the Preferences button. The buttons trigger
// the window's actions, and show their keys in their tooltips; refresh()
// applies the published state.
class ToolbarRow : public QWidget {
    Q_OBJECT

public:
    ToolbarRow(ContentViewModel& viewModel, const WindowActions& actions,
               QWidget* parent = nullptr);

    void refresh();
    QLineEdit* searchField() const { return search; }

private:
    ContentViewModel& viewModel;
    QPushButton* const scanButton;
    QPushButton* const stopButton;
    QButtonGroup* const showButtons;
    QWidget* const showChoice;
    ElidedLabel* const folderLabel;
    QLineEdit* const search;
};
