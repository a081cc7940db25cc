// SPDX-License-Identifier: GPL-3.0-or-later

#include "PreferencesDialog.h"

#include "DarkTheme.h"
#include "model/Settings.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace {

QLabel* sectionTitle(const QString& text, QWidget* parent) {
    auto* title = new QLabel(text, parent);
    QFont headline = title->font();
    headline.setBold(true);
    title->setFont(headline);
    return title;
}

QLabel* explanation(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setWordWrap(true);
    label->setContentsMargins(24, 0, 0, 6);
    QPalette dim = label->palette();
    dim.setColor(QPalette::WindowText, ThemeColors::secondaryText());
    label->setPalette(dim);
    return label;
}

// One radio button per case, each with its line of explanation beneath.
template <class Enum>
void addChoices(QButtonGroup* group, QVBoxLayout* layout, Enum current,
                const QList<std::pair<Enum, QString>>& explained, QWidget* parent) {
    for (const auto& [value, text] : explained) {
        auto* button = new QRadioButton(rawValue(value), parent);
        button->setPalette(checkBoxPalette(button->palette()));
        button->setChecked(value == current);
        group->addButton(button, int(value));
        layout->addWidget(button);
        layout->addWidget(explanation(text, parent));
    }
}

} // namespace

PreferencesDialog::PreferencesDialog(QWidget* parent)
    : QDialog(parent), methods(new QButtonGroup(this)), behaviors(new QButtonGroup(this)),
      scanSeconds(numberField("scanSecondsField", Settings::shared().scanLimitSeconds())),
      scanSecondsHint(hintLabel("scanSecondsHint")),
      parallelScans(numberField("parallelScansField", Settings::shared().parallelScans())),
      parallelScansHint(hintLabel("parallelScansHint")),
      autoSelect(new QCheckBox(QStringLiteral("Tick fake stereo files as they are found"), this)),
      confirmOverwrite(new QCheckBox(
          QStringLiteral("Ask before originals are replaced (Overwrite without a suffix)"), this)) {
    setWindowTitle(QStringLiteral("Preferences"));
    setWindowModality(Qt::WindowModal);
    setFixedWidth(540);
    QPalette sheetPalette = palette();
    sheetPalette.setColor(QPalette::Window, ThemeColors::sheetBackground());
    setPalette(sheetPalette);
    setAutoFillBackground(true);
    const Settings& settings = Settings::shared();

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 16, 20, 16);
    layout->setSpacing(4);

    layout->addWidget(sectionTitle(QStringLiteral("Comparison method"), this));
    addChoices(methods, layout, settings.comparisonMethod(),
               {{ComparisonMethod::byteExact,
                 QStringLiteral("The two channels must hold exactly the same samples.")},
                {ComparisonMethod::statistical,
                 QStringLiteral("In lossy files the channels may differ only by the decoder's "
                                "rounding; also catches lossy-encoded fake stereo.")}},
               this);
    methods->button(int(ComparisonMethod::byteExact))->setObjectName("byteExactRadio");
    methods->button(int(ComparisonMethod::statistical))->setObjectName("statisticalRadio");

    layout->addSpacing(8);
    layout->addWidget(sectionTitle(QStringLiteral("Original files after conversion"), this));
    addChoices(behaviors, layout, settings.convertBehavior(),
               {{ConvertBehavior::trash,
                 QStringLiteral("The original goes to the Trash, where it can be restored from.")},
                {ConvertBehavior::overwrite,
                 QStringLiteral("The converted file takes the original's place, which cannot "
                                "be undone; with Append Filename on, the original stays beside "
                                "it.")},
                {ConvertBehavior::backup,
                 QStringLiteral("A copy of the original is kept in a _backup folder beside it.")}},
               this);
    behaviors->button(int(ConvertBehavior::trash))->setObjectName("trashRadio");
    behaviors->button(int(ConvertBehavior::overwrite))->setObjectName("overwriteRadio");
    behaviors->button(int(ConvertBehavior::backup))->setObjectName("backupRadio");

    layout->addSpacing(8);
    layout->addWidget(sectionTitle(QStringLiteral("Scanning"), this));
    auto* numbers = new QFormLayout;
    numbers->setContentsMargins(0, 4, 0, 4);
    numbers->addRow(QStringLiteral("Seconds compared per file:"), scanSeconds);
    numbers->addRow(QString(), scanSecondsHint);
    numbers->addRow(QStringLiteral("Files analysed at once:"), parallelScans);
    numbers->addRow(QString(), parallelScansHint);
    layout->addLayout(numbers);
    autoSelect->setObjectName(QStringLiteral("autoSelectCheckBox"));
    autoSelect->setPalette(checkBoxPalette(autoSelect->palette()));
    autoSelect->setChecked(settings.autoSelectAll());
    layout->addWidget(autoSelect);
    confirmOverwrite->setObjectName(QStringLiteral("confirmOverwriteCheckBox"));
    confirmOverwrite->setPalette(checkBoxPalette(confirmOverwrite->palette()));
    confirmOverwrite->setChecked(settings.confirmOverwrite());
    layout->addWidget(confirmOverwrite);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    okButton = buttons->button(QDialogButtonBox::Ok);
    makeProminent(okButton);
    connect(buttons, &QDialogButtonBox::accepted, this, &PreferencesDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &PreferencesDialog::reject);
    layout->addSpacing(12);
    layout->addWidget(buttons);

    for (QLineEdit* field : {scanSeconds, parallelScans})
        connect(field, &QLineEdit::textEdited, this, &PreferencesDialog::validate);
    validate();
}

QLineEdit* PreferencesDialog::numberField(const char* name, qint64 value) {
    auto* field = new QLineEdit(QLocale().toString(value), this);
    field->setObjectName(QLatin1String(name));
    field->setFixedWidth(80);
    return field;
}

QLabel* PreferencesDialog::hintLabel(const char* name) {
    auto* hint = new QLabel(this);
    hint->setObjectName(QLatin1String(name));
    QPalette red = hint->palette();
    red.setColor(QPalette::WindowText, ThemeColors::destructive());
    hint->setPalette(red);
    hint->hide();
    return hint;
}

std::optional<qint64> PreferencesDialog::validNumber(QLineEdit* field, QLabel* hint,
                                                     SettingRange range) const {
    bool ok = false;
    const qint64 value = QLocale().toLongLong(field->text().trimmed(), &ok);
    const bool valid = ok && range.contains(value);
    hint->setText(QStringLiteral("Enter a whole number from %1 to %2.")
                      .arg(range.minimum)
                      .arg(range.maximum));
    hint->setVisible(!valid);
    return valid ? std::optional(value) : std::nullopt;
}

bool PreferencesDialog::validate() {
    const bool secondsValid =
        validNumber(scanSeconds, scanSecondsHint, Settings::scanLimitSecondsRange).has_value();
    const bool parallelValid =
        validNumber(parallelScans, parallelScansHint, Settings::parallelScansRange).has_value();
    okButton->setEnabled(secondsValid && parallelValid);
    return secondsValid && parallelValid;
}

void PreferencesDialog::accept() {
    const std::optional<qint64> seconds =
        validNumber(scanSeconds, scanSecondsHint, Settings::scanLimitSecondsRange);
    const std::optional<qint64> parallel =
        validNumber(parallelScans, parallelScansHint, Settings::parallelScansRange);
    if (!seconds || !parallel)
        return;
    Settings& settings = Settings::shared();
    const bool comparisonChanges =
        settings.comparisonMethod() != ComparisonMethod(methods->checkedId()) ||
        settings.scanLimitSeconds() != *seconds;
    settings.setComparisonMethod(ComparisonMethod(methods->checkedId()));
    settings.setConvertBehavior(ConvertBehavior(behaviors->checkedId()));
    settings.setScanLimitSeconds(*seconds);
    settings.setParallelScans(*parallel);
    settings.setAutoSelectAll(autoSelect->isChecked());
    settings.setConfirmOverwrite(confirmOverwrite->isChecked());
    QDialog::accept();
    if (comparisonChanges)
        emit comparisonChanged();
}
