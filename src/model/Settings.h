// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "model/Statuses.h"

#include <QString>
#include <QVariant>

#include <optional>

// The whole numbers a setting takes from the user, the same in the window and
// on the command line.
struct SettingRange {
    qint64 minimum;
    qint64 maximum;

    bool contains(qint64 value) const { return value >= minimum && value <= maximum; }
};

// The user's eight settings, kept in the preferences store (QSettings,
// organisation and application "Chanfuse"). Every read goes to the store, so a
// change made anywhere applies to the next file; defaults are never written.
// Safe to use from any thread.
class Settings {
public:
    static Settings& shared();

    // Comparing more than ten minutes of each file only slows the scan, more
    // than 256 files at once only queue behind each other, and no conversion
    // needs longer than a day.
    static constexpr SettingRange scanLimitSecondsRange{1, 600};
    static constexpr SettingRange parallelScansRange{1, 256};
    static constexpr SettingRange convertTimeoutSecondsRange{1, 86400};

    ComparisonMethod comparisonMethod() const;
    void setComparisonMethod(ComparisonMethod value);

    ConvertBehavior convertBehavior() const;
    void setConvertBehavior(ConvertBehavior value);

    bool autoSelectAll() const;
    void setAutoSelectAll(bool value);

    QString suffix() const;
    void setSuffix(const QString& value);

    bool appendFilename() const;
    void setAppendFilename(bool value);

    qint64 scanLimitSeconds() const;
    void setScanLimitSeconds(qint64 value);

    qint64 parallelScans() const;
    void setParallelScans(qint64 value);

    qint64 convertTimeoutSeconds() const;
    void setConvertTimeoutSeconds(qint64 value);

    // How long the journal keeps a run that can be undone.
    qint64 historyKeepDays() const;
    void setHistoryKeepDays(qint64 value);

    // Not settings of a conversion, but remembered alike: whether replacing
    // originals asks first, and the folder last chosen.
    bool confirmOverwrite() const;
    void setConfirmOverwrite(bool value);
    QString lastFolder() const;
    void setLastFolder(const QString& value);

    // True when the converted file's name carries the suffix.
    bool suffixEnabled() const;

    // Why a suffix cannot be used, or nothing when it can. The suffix is
    // pasted into a file name, so a path separator would put the output in
    // another folder and a control character would make a name no one can
    // type; every place that takes a suffix from the user asks this first.
    static std::optional<QString> suffixRefusal(const QString& value);

    // Makes every later read of `key` in this process see `value`, without
    // writing it to the store (a command-line option for one run). Values of
    // the wrong kind fall back to the default as stored ones do.
    void overrideForThisProcess(const QString& key, const QVariant& value);

private:
    Settings();

    const qint64 defaultParallelScans;
};
