#pragma once

#include <QWidget>

class ContentViewModel;
class ElidedLabel;
class QButtonGroup;
class QPushButton;

// The top row: pick, scan and stop, the "Show" filter and the folder being
// shown. Each control calls one view-model operation; refresh() applies the
// published state.
class ToolbarRow : public QWidget {
    Q_OBJECT

public:
    explicit ToolbarRow(ContentViewModel& viewModel, QWidget* parent = nullptr);

    void refresh();

private:
    ContentViewModel& viewModel;
    QPushButton* const scanButton;
    QPushButton* const stopButton;
    QButtonGroup* const showButtons;
    QWidget* const showChoice;
    ElidedLabel* const folderLabel;
};
