// SPDX-License-Identifier: GPL-3.0-or-later

#include "BottomBar.h"

#include "BusyIndicator.h"
#include "DarkTheme.h"
#include "ElidedLabel.h"
#include "model/Settings.h"
#include "viewmodel/ContentViewModel.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QToolTip>

#include <algorithm>
#include <cmath>

namespace {

constexpr int progressSteps = 1000;

QLineEdit* settingField(const QString& name, int width, QWidget* parent) {
    auto* field = new QLineEdit(parent);
    field->setObjectName(name);
    field->setFixedWidth(width);
    // The window takes every drop; a field must not swallow a dropped file as text.
    field->setAcceptDrops(false);
    return field;
}

bool hasConvertibleSelection(const ContentViewModel& viewModel) {
    return std::any_of(
        viewModel.items().cbegin(), viewModel.items().cend(),
        [&viewModel](const FileItemPtr& item) { return viewModel.isConvertible(item); });
}

} // namespace

BottomBar::BottomBar(ContentViewModel& viewModel, QWidget* parent)
    : QWidget(parent), viewModel(viewModel),
      clearButton(new QPushButton(QStringLiteral("Clear"), this)),
      stopButton(new QPushButton(QStringLiteral("Stop"), this)), spinner(new BusyIndicator(this)),
      progressBar(new QProgressBar(this)), statusLabel(new ElidedLabel(this)),
      appendFilename(new QCheckBox(QStringLiteral("Append Filename"), this)),
      suffixField(settingField(QStringLiteral("suffixField"), 100, this)),
      timeoutField(settingField(QStringLiteral("timeoutField"), 50, this)),
      settingsControls(makeSettingsControls()),
      convertButton(new QPushButton(QStringLiteral("Convert Selected"), this)) {
    clearButton->setObjectName(QStringLiteral("clearButton"));
    stopButton->setObjectName(QStringLiteral("convertStopButton"));
    tintLabel(stopButton, ThemeColors::destructive());
    spinner->setObjectName(QStringLiteral("scanSpinner"));
    progressBar->setObjectName(QStringLiteral("convertProgressBar"));
    progressBar->setRange(0, progressSteps);
    progressBar->setTextVisible(false);
    progressBar->setFixedSize(200, 8);
    statusLabel->setObjectName(QStringLiteral("statusLabel"));
    statusLabel->setTextColor(ThemeColors::secondaryText());
    auto* infoButton = new QPushButton(QStringLiteral("Info"), this);
    infoButton->setObjectName(QStringLiteral("infoButton"));
    tintLabel(infoButton, ThemeColors::attention());
    convertButton->setObjectName(QStringLiteral("convertSelectedButton"));
    makeProminent(convertButton);
    clearButton->setToolTip(QStringLiteral("Empty the list; no file is touched"));
    stopButton->setToolTip(QStringLiteral("Stop converting; the file in hand is left as it was"));
    statusLabel->setAccessibleName(QStringLiteral("Status"));
    progressBar->setAccessibleName(QStringLiteral("Conversion progress"));
    infoButton->setToolTip(QStringLiteral("Show the log of this session"));
    convertButton->setToolTip(QStringLiteral("Convert every ticked fake stereo file to mono"));

    connect(clearButton, &QPushButton::clicked, this, [this] {
        this->viewModel.clearResults();
        emit cleared();
    });
    connect(stopButton, &QPushButton::clicked, this, [this] {
        if (this->viewModel.isUndoing())
            this->viewModel.stopUndo();
        else
            this->viewModel.stopConvert();
    });
    connect(infoButton, &QPushButton::clicked, this,
            [this] { this->viewModel.setShowDebug(true); });
    connect(convertButton, &QPushButton::clicked, this, &BottomBar::convertRequested);

    setTabOrder(infoButton, convertButton);

    // The status has a line of its own, so its counts are never cut and the
    // controls below fit a window half a small screen wide.
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(12, 6, 12, 8);
    layout->setSpacing(6);
    auto* statusRow = new QHBoxLayout;
    statusRow->addWidget(spinner);
    statusRow->addWidget(progressBar);
    statusRow->addWidget(statusLabel, 1);
    layout->addLayout(statusRow);
    auto* controlsRow = new QHBoxLayout;
    controlsRow->addWidget(clearButton);
    controlsRow->addWidget(stopButton);
    controlsRow->addStretch(1);
    controlsRow->addWidget(settingsControls);
    controlsRow->addWidget(infoButton);
    controlsRow->addWidget(convertButton);
    layout->addLayout(controlsRow);
    refresh();
}

QWidget* BottomBar::makeSettingsControls() {
    auto* controls = new QWidget(this);
    controls->setObjectName(QStringLiteral("settingsControls"));
    auto* timeoutLabel = new QLabel(QStringLiteral("Timeout (s)"), controls);
    QPalette dim = timeoutLabel->palette();
    dim.setColor(QPalette::WindowText, ThemeColors::secondaryText());
    timeoutLabel->setPalette(dim);

    Settings& settings = Settings::shared();
    appendFilename->setObjectName(QStringLiteral("appendFilenameCheckBox"));
    appendFilename->setToolTip(
        QStringLiteral("Name each converted file with the suffix, beside its original"));
    suffixField->setAccessibleName(QStringLiteral("Suffix"));
    suffixField->setAccessibleDescription(
        QStringLiteral("Text added to the name of each converted file"));
    timeoutField->setAccessibleName(QStringLiteral("Timeout in seconds"));
    timeoutField->setToolTip(QStringLiteral("How long one conversion may take"));
    appendFilename->setChecked(settings.appendFilename());
    appendFilename->setPalette(checkBoxPalette(appendFilename->palette()));
    suffixField->setText(settings.suffix());
    suffixField->setEnabled(settings.appendFilename());
    timeoutField->setText(QLocale().toString(settings.convertTimeoutSeconds()));

    connect(appendFilename, &QCheckBox::toggled, this, [this](bool on) {
        Settings::shared().setAppendFilename(on);
        suffixField->setEnabled(on);
        this->viewModel.setSuffixRefusal(on ? Settings::suffixRefusal(suffixField->text())
                                            : std::nullopt);
    });
    // A suffix that could not make a plain file name is never stored, and
    // nothing is converted while the field shows it: the field turns red and
    // its tooltip says why until the text is usable again.
    const QPalette usable = suffixField->palette();
    connect(suffixField, &QLineEdit::textEdited, this, [this, usable](const QString& text) {
        const std::optional<QString> refusal = Settings::suffixRefusal(text);
        this->viewModel.setSuffixRefusal(refusal);
        QPalette shown = usable;
        if (refusal)
            shown.setColor(QPalette::Text, ThemeColors::destructive());
        suffixField->setPalette(shown);
        suffixField->setToolTip(refusal.value_or(QString()));
        if (refusal)
            QToolTip::showText(suffixField->mapToGlobal(QPoint(0, suffixField->height())), *refusal,
                               suffixField);
        else
            Settings::shared().setSuffix(text);
    });
    // Each edit that reads as a whole number of seconds in the setting's
    // range in the user's locale is stored (a limit of 0 would end every
    // conversion at once); anything else leaves the setting alone, and
    // leaving the field shows the stored value again.
    connect(timeoutField, &QLineEdit::textEdited, this, [](const QString& text) {
        bool ok = false;
        const qint64 seconds = QLocale().toLongLong(text.trimmed(), &ok);
        if (ok && Settings::convertTimeoutSecondsRange.contains(seconds))
            Settings::shared().setConvertTimeoutSeconds(seconds);
    });
    connect(timeoutField, &QLineEdit::editingFinished, this, [this] {
        timeoutField->setText(QLocale().toString(Settings::shared().convertTimeoutSeconds()));
    });

    auto* layout = new QHBoxLayout(controls);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(appendFilename);
    layout->addWidget(suffixField);
    layout->addSpacing(4);
    layout->addWidget(timeoutLabel);
    layout->addWidget(timeoutField);
    return controls;
}

void BottomBar::refresh() {
    const bool scanning = viewModel.isScanning();
    const bool converting = viewModel.isConverting();
    clearButton->setEnabled(!scanning && !converting);
    stopButton->setVisible(converting || viewModel.isUndoing());
    settingsControls->setVisible(!converting);
    convertButton->setEnabled(!converting && hasConvertibleSelection(viewModel));
    refreshStatus();
}

void BottomBar::refreshStatus() {
    const StatusFacts facts = StatusFacts::of(viewModel);
    spinner->setVisible(facts.isScanning);
    progressBar->setVisible(!facts.isScanning && (facts.isConverting || facts.isUndoing));
    const double progress = facts.isUndoing ? facts.undoProgress : facts.convertProgress;
    progressBar->setValue(int(std::clamp(progress, 0.0, 1.0) * progressSteps));
    // Only a file name may be shortened; the counts are always shown whole.
    const QString text = statusText(facts);
    qsizetype nameStart = 0;
    qsizetype nameLength = 0;
    if (facts.isScanning && facts.currentScanningFile) {
        nameStart = text.indexOf(u' ') + 1;
        nameLength = facts.currentScanningFile->size();
    } else if (!facts.isScanning && facts.isConverting && facts.currentConvertingFile) {
        nameStart = text.indexOf(u' ') + 1;
        nameLength = facts.currentConvertingFile->size();
    }
    statusLabel->setText(text, nameStart, nameLength);
}

BottomBar::StatusFacts BottomBar::StatusFacts::of(const ContentViewModel& viewModel) {
    StatusFacts facts;
    facts.isScanning = viewModel.isScanning();
    facts.isConverting = viewModel.isConverting();
    facts.scanStopped = viewModel.scanStopped();
    facts.scannedCount = viewModel.scannedCount();
    facts.totalCount = viewModel.totalCount();
    facts.convertProgress = viewModel.convertProgress();
    facts.isUndoing = viewModel.isUndoing();
    facts.undoProgress = viewModel.undoProgress();
    facts.currentScanningFile = viewModel.currentScanningFile();
    facts.currentConvertingFile = viewModel.currentConvertingFile();
    facts.showsFakeStereoOnly = viewModel.showFilter() == ShowFilter::fakeStereoOnly;
    facts.itemCount = viewModel.items().size();
    facts.visibleCount = viewModel.visibleItems().size();
    facts.fakeStereoCount = viewModel.fakeStereoCount();
    facts.verdictsOutdated = viewModel.verdictsOutdated();
    return facts;
}

// A file name may itself hold "%2", so names go in by the one-pass multi-arg
// form, never by chained arg() calls.
QString BottomBar::statusText(const StatusFacts& facts) {
    if (facts.isScanning) {
        if (facts.currentScanningFile)
            return QStringLiteral("Scanning: %1 — %2/%3")
                .arg(*facts.currentScanningFile, QString::number(facts.scannedCount),
                     QString::number(facts.totalCount));
        return QStringLiteral("Scanned %1/%2 files, %3 fake stereo")
            .arg(facts.scannedCount)
            .arg(facts.totalCount)
            .arg(facts.fakeStereoCount);
    }
    if (facts.isConverting) {
        const double percent = facts.convertProgress * 100.0;
        if (facts.currentConvertingFile)
            return QStringLiteral("Converting: %1 — %2%")
                .arg(*facts.currentConvertingFile, QString::number(qint64(std::trunc(percent))));
        return QStringLiteral("Converting... ") + QString::asprintf("%.0f", percent) +
               QStringLiteral("%");
    }
    if (facts.isUndoing)
        return QStringLiteral("Undoing... %1%").arg(qint64(std::trunc(facts.undoProgress * 100.0)));
    if (facts.scanStopped)
        return QStringLiteral("Scan stopped: %1 of %2 files scanned, %3 fake stereo")
            .arg(facts.scannedCount)
            .arg(facts.totalCount)
            .arg(facts.fakeStereoCount);
    const QString outdated = facts.verdictsOutdated
                                 ? QStringLiteral(" — comparison settings changed: scan again")
                                 : QString();
    if (facts.showsFakeStereoOnly && facts.visibleCount < facts.itemCount)
        return QStringLiteral("%1 of %2 files shown, %3 fake stereo")
                   .arg(facts.visibleCount)
                   .arg(facts.itemCount)
                   .arg(facts.fakeStereoCount) +
               outdated;
    return QStringLiteral("%1 files scanned, %2 fake stereo")
               .arg(facts.itemCount)
               .arg(facts.fakeStereoCount) +
           outdated;
}
