#pragma once

#include <QWidget>

class ContentViewModel;
class ElidedLabel;
class QCheckBox;
class QLineEdit;
class BusyIndicator;
class QProgressBar;
class QPushButton;

// The bottom row: clear and stop, the status area, the conversion settings,
// the Info Log button and the main action. The settings controls write the
// shared settings directly; everything else goes through the view model.
class BottomBar : public QWidget {
    Q_OBJECT

public:
    explicit BottomBar(ContentViewModel& viewModel, QWidget* parent = nullptr);

    void refresh();

signals:
    // After "Clear" emptied the list.
    void cleared();

private:
    QWidget* makeSettingsControls();
    void refreshStatus();

    ContentViewModel& viewModel;
    QPushButton* const clearButton;
    QPushButton* const stopButton;
    BusyIndicator* const spinner;
    QProgressBar* const progressBar;
    ElidedLabel* const statusLabel;
    QCheckBox* const appendFilename;
    QLineEdit* const suffixField;
    QLineEdit* const timeoutField;
    QWidget* const settingsControls;
    QPushButton* const convertButton;
};
