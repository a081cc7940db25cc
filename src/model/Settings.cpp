// SPDX-License-Identifier: GPL-3.0-or-later

#include "model/Settings.h"

#include <QSettings>
#include <QThread>
#include <QVariant>

#include <mutex>

namespace {

std::mutex overridesLock;
QVariantHash overrides;

// QSettings objects belong to one thread, so each access makes its own; they
// share Qt's per-file cache, and sync() picks up changes made by others.
QVariant stored(const QString& key) {
    {
        const std::lock_guard lock(overridesLock);
        const auto overridden = overrides.constFind(key);
        if (overridden != overrides.cend())
            return *overridden;
    }
    QSettings store(QStringLiteral("Chanfuse"), QStringLiteral("Chanfuse"));
    store.sync();
    return store.value(key);
}

void store(const QString& key, const QVariant& value) {
    QSettings store(QStringLiteral("Chanfuse"), QStringLiteral("Chanfuse"));
    store.setValue(key, value);
    store.sync();
}

// INI files keep no types: a value read back from disk is text, one set in
// this process may still be typed. Text that is not of the key's kind counts
// as absent.
qint64 readInteger(const QString& key, qint64 fallback) {
    const QVariant value = stored(key);
    if (value.typeId() == QMetaType::QString) {
        bool ok = false;
        const qint64 parsed = value.toString().trimmed().toLongLong(&ok);
        return ok ? parsed : fallback;
    }
    if (value.typeId() == QMetaType::Int || value.typeId() == QMetaType::LongLong ||
        value.typeId() == QMetaType::UInt || value.typeId() == QMetaType::ULongLong)
        return value.toLongLong();
    return fallback;
}

bool readBoolean(const QString& key, bool fallback) {
    const QVariant value = stored(key);
    if (value.typeId() == QMetaType::Bool)
        return value.toBool();
    if (value.typeId() == QMetaType::QString) {
        const QString text = value.toString().trimmed().toLower();
        if (text == u"true" || text == u"1")
            return true;
        if (text == u"false" || text == u"0")
            return false;
    }
    return fallback;
}

QString readText(const QString& key, const QString& fallback) {
    const QVariant value = stored(key);
    return value.typeId() == QMetaType::QString ? value.toString() : fallback;
}

template <class Enum> Enum readEnum(const QString& key, Enum fallback) {
    const QVariant value = stored(key);
    if (value.typeId() != QMetaType::QString)
        return fallback;
    return fromRawValue<Enum>(value.toString()).value_or(fallback);
}

} // namespace

Settings& Settings::shared() {
    static Settings* const instance = new Settings;
    return *instance;
}

Settings::Settings() : defaultParallelScans(QThread::idealThreadCount()) {}

ComparisonMethod Settings::comparisonMethod() const {
    return readEnum(QStringLiteral("comparisonMethod"), ComparisonMethod::byteExact);
}
void Settings::setComparisonMethod(ComparisonMethod value) {
    store(QStringLiteral("comparisonMethod"), rawValue(value));
}

ConvertBehavior Settings::convertBehavior() const {
    return readEnum(QStringLiteral("convertBehavior"), ConvertBehavior::trash);
}
void Settings::setConvertBehavior(ConvertBehavior value) {
    store(QStringLiteral("convertBehavior"), rawValue(value));
}

bool Settings::autoSelectAll() const {
    return readBoolean(QStringLiteral("autoSelectAll"), true);
}
void Settings::setAutoSelectAll(bool value) {
    store(QStringLiteral("autoSelectAll"), value);
}

QString Settings::suffix() const {
    return readText(QStringLiteral("suffix"), QStringLiteral("_MONO"));
}
void Settings::setSuffix(const QString& value) {
    store(QStringLiteral("suffix"), value);
}

bool Settings::appendFilename() const {
    return readBoolean(QStringLiteral("appendFilename"), true);
}
void Settings::setAppendFilename(bool value) {
    store(QStringLiteral("appendFilename"), value);
}

qint64 Settings::scanLimitSeconds() const {
    return readInteger(QStringLiteral("scanLimitSeconds"), 5);
}
void Settings::setScanLimitSeconds(qint64 value) {
    store(QStringLiteral("scanLimitSeconds"), value);
}

qint64 Settings::parallelScans() const {
    return readInteger(QStringLiteral("parallelScans"), defaultParallelScans);
}
void Settings::setParallelScans(qint64 value) {
    store(QStringLiteral("parallelScans"), value);
}

qint64 Settings::convertTimeoutSeconds() const {
    return readInteger(QStringLiteral("convertTimeoutSeconds"), 60);
}
void Settings::setConvertTimeoutSeconds(qint64 value) {
    store(QStringLiteral("convertTimeoutSeconds"), value);
}

qint64 Settings::historyKeepDays() const {
    return readInteger(QStringLiteral("historyKeepDays"), 90);
}
void Settings::setHistoryKeepDays(qint64 value) {
    store(QStringLiteral("historyKeepDays"), value);
}

bool Settings::confirmOverwrite() const {
    return readBoolean(QStringLiteral("confirmOverwrite"), true);
}
void Settings::setConfirmOverwrite(bool value) {
    store(QStringLiteral("confirmOverwrite"), value);
}

QString Settings::lastFolder() const {
    return readText(QStringLiteral("lastFolder"), QString());
}
void Settings::setLastFolder(const QString& value) {
    store(QStringLiteral("lastFolder"), value);
}

bool Settings::suffixEnabled() const {
    return appendFilename() && !suffix().isEmpty();
}

std::optional<QString> Settings::suffixRefusal(const QString& value) {
    for (const QChar character : value) {
        if (character == u'/' || character == u'\\')
            return QStringLiteral("The suffix may not contain a path separator (/ or \\)");
        if (character.category() == QChar::Other_Control)
            return QStringLiteral("The suffix may not contain control characters");
    }
    return std::nullopt;
}

void Settings::overrideForThisProcess(const QString& key, const QVariant& value) {
    const std::lock_guard lock(overridesLock);
    overrides.insert(key, value);
}
