// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "LogLines.h"
#include "TestFiles.h"
#include "Workers.h"

#include "converter/AudioConverter.h"

#include <QDir>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <memory>
#include <optional>
#include <stop_token>

// What a converter test starts from: a fresh folder of its own, an empty home
// trash, an empty log, and the settings a conversion reads at known values.
// Call reset() from the test's init().
class ConverterFixture {
public:
    static QString trashFolder() {
        return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
               QStringLiteral("/Trash");
    }

    void reset() {
        folder = std::make_unique<QTemporaryDir>();
        log = LogLines();
        QDir(trashFolder()).removeRecursively();
        Settings& settings = Settings::shared();
        settings.setAppendFilename(true);
        settings.setSuffix(QStringLiteral("_MONO"));
        settings.setConvertBehavior(ConvertBehavior::trash);
        settings.setConvertTimeoutSeconds(60);
        settings.setComparisonMethod(ComparisonMethod::byteExact);
    }

    QString path() const { return folder->path(); }
    QString pathOf(const QString& name) const { return folder->filePath(name); }

    // The folder's entries, and what the trash holds as "trash/<name>".
    QMap<QString, QByteArray> left() const {
        QMap<QString, QByteArray> entries = TestFiles::snapshot(path());
        const auto trashed = TestFiles::snapshot(trashFolder() + QStringLiteral("/files"));
        for (auto file = trashed.cbegin(); file != trashed.cend(); ++file)
            entries.insert(QStringLiteral("trash/") + file.key(), file.value());
        return entries;
    }

    // Converts on a worker, as the application does, and applies the
    // outcome to the item; nothing when converted, else the outcome's text.
    // One still running after a minute ends the test program.
    std::optional<QString> convert(const FileItemPtr& item, std::stop_token stop = {}) const {
        ConversionOutcome outcome;
        const auto work = [&] {
            outcome = AudioConverter(Settings::shared()).convertToMono(item, log.callback(), stop);
        };
        if (!TestSupport::finishOnWorker(work, 60000))
            qFatal("the conversion did not finish");
        outcome.applyTo(*item);
        if (outcome.kind == ConversionOutcome::Kind::converted)
            return std::nullopt;
        return outcome.text;
    }

    LogLines log;

private:
    std::unique_ptr<QTemporaryDir> folder;
};
