// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QWidget>

#include <optional>

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

    // What the status area says, taken from the view model at one moment;
    // kept apart from the widgets so every wording can be checked alone.
    struct StatusFacts {
        bool isScanning = false;
        bool isConverting = false;
        bool scanStopped = false;
        qint64 scannedCount = 0;
        qint64 totalCount = 0;
        double convertProgress = 0.0;
        bool isUndoing = false;
        double undoProgress = 0.0;
        std::optional<QString> currentScanningFile = std::nullopt;
        std::optional<QString> currentConvertingFile = std::nullopt;
        bool showsFakeStereoOnly = false;
        qint64 itemCount = 0;
        qint64 visibleCount = 0;
        qint64 fakeStereoCount = 0;
        bool verdictsOutdated = false;

        static StatusFacts of(const ContentViewModel& viewModel);
    };
    static QString statusText(const StatusFacts& facts);

signals:
    // After "Clear" emptied the list.
    void cleared();
    // "Convert Selected" was clicked; the window may ask first.
    void convertRequested();

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
