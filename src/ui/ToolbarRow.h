#pragma once

#include <QWidget>

class ContentViewModel;
class ElidedLabel;
class QButtonGroup;
class QPushButton;

// The top row: pick, scan and stop, the "Show" filter, the folder being
// shown and the Preferences button. Each control calls one view-model operation; refresh() applies
// the published state.
class ToolbarRow : public QWidget {
    Q_OBJECT

public:
    explicit ToolbarRow(ContentViewModel& viewModel, QWidget* parent = nullptr);

    void refresh();

signals:
    void preferencesRequested();

private:
    ContentViewModel& viewModel;
    QPushButton* const scanButton;
    QPushButton* const stopButton;
    QButtonGroup* const showButtons;
    QWidget* const showChoice;
    ElidedLabel* const folderLabel;
};
