// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "model/Settings.h"

#include <QDialog>

#include <optional>

class QButtonGroup;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

// The settings a scan and a conversion run follow, beyond the ones in the
// bottom bar: how channels are compared, what becomes of originals, how much
// of each file is compared, how many files are analysed at once and whether
// fake stereo files are ticked as they are found, and whether replacing
// originals asks first. Opens with the stored
// values; OK stores them all, and only when every one is valid.
class PreferencesDialog : public QDialog {
    Q_OBJECT

public:
    explicit PreferencesDialog(QWidget* parent = nullptr);

    void accept() override;

signals:
    // OK stored a comparison that judges files differently from before.
    void comparisonChanged();

private:
    QLineEdit* numberField(const char* name, qint64 value);
    QLabel* hintLabel(const char* name);
    // The field's whole number when it lies in the range, with its hint
    // shown or hidden accordingly.
    std::optional<qint64> validNumber(QLineEdit* field, QLabel* hint, SettingRange range) const;
    bool validate();

    QButtonGroup* const methods;
    QButtonGroup* const behaviors;
    QLineEdit* const scanSeconds;
    QLabel* const scanSecondsHint;
    QLineEdit* const parallelScans;
    QLabel* const parallelScansHint;
    QCheckBox* const autoSelect;
    QCheckBox* const confirmOverwrite;
    QPushButton* okButton = nullptr;
};
