#include "converter/Disposal.h"

#include "converter/BoundedFileQueries.h"
#include "converter/Trash.h"
#include "exec/ThrowingTimeout.h"
#include "model/PathParts.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUuid>

#include <cstdio>

namespace {

// A plain rename(2): atomic within a folder, and never QFile::rename's
// copy-and-delete fallback halfway through a replacement.
bool renamePath(const QString& from, const QString& to) {
    return std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0;
}

void trashOrRemove(const QString& path, double limitSeconds, const ConversionLog& log,
                   std::stop_token stop) {
    try {
        withThrowingTimeout(
            limitSeconds, [path](std::stop_token) { moveToTrash(path); }, stop);
    } catch (const std::exception&) {
        log(QStringLiteral("Trash timed out, falling back to removeItem"));
        succeedsWithin(limitSeconds, [path] { return QFile::remove(path); });
    }
}

std::optional<QString> copyToBackup(const QString& original, const QString& fileName,
                                    double limitSeconds, const ConversionLog& log) {
    const QString folder = QFileInfo(original).path() + QStringLiteral("/_backup");
    const QString copy = folder + u'/' + lastPathComponent(original);

    succeedsWithin(fileQueryLimitSeconds, [folder] { return QDir().mkpath(folder); });
    if (fileExistsWithin(fileQueryLimitSeconds, copy).value_or(false))
        succeedsWithin(fileQueryLimitSeconds, [copy] { return QFile::remove(copy); });
    if (!succeedsWithin(limitSeconds, [original, copy] { return QFile::copy(original, copy); })) {
        log(QStringLiteral("Backup timed out for ") + fileName);
        return QStringLiteral("Backup timed out");
    }
    return std::nullopt;
}

// The repairs below run on the file-operation queue rather than directly: a
// rename that overran its limit may still land later, and the serial queue
// makes the repair run after it, so it can never undo the repair.
std::optional<QString> replaceInPlace(const QString& original, const QString& output,
                                      const QString& fileName, const Settings& settings,
                                      double limitSeconds, const ConversionLog& log,
                                      std::stop_token stop) {
    const QString staging = QFileInfo(original).path() + QStringLiteral("/.sonfold_orig_") +
                            QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();

    if (!succeedsWithin(limitSeconds,
                        [original, staging] { return renamePath(original, staging); })) {
        log(QStringLiteral("Could not stage original for replacement: ") + fileName);
        succeedsWithin(limitSeconds, [original, staging, output] {
            if (!QFileInfo::exists(original) && QFileInfo::exists(staging))
                renamePath(staging, original);
            return QFile::remove(output);
        });
        return QStringLiteral("Could not prepare original file for replacement");
    }

    if (!succeedsWithin(limitSeconds,
                        [output, original] { return renamePath(output, original); })) {
        log(QStringLiteral("File move timed out for ") + fileName +
            QStringLiteral(", restoring original"));
        succeedsWithin(limitSeconds, [original, staging, output] {
            renamePath(staging, original);
            return QFile::remove(output);
        });
        return QStringLiteral("File move timed out");
    }

    if (settings.convertBehavior() == ConvertBehavior::trash)
        trashOrRemove(staging, limitSeconds, log, stop);
    else
        succeedsWithin(limitSeconds, [staging] { return QFile::remove(staging); });
    return std::nullopt;
}

} // namespace

std::optional<QString> disposeOfOriginal(const FileItem& item, const OutputPath& output,
                                         const Settings& settings, const ConversionLog& log,
                                         std::stop_token stop) {
    const double limitSeconds = double(settings.convertTimeoutSeconds());
    const ConvertBehavior behavior = settings.convertBehavior();
    const QString original = item.path();

    if (behavior == ConvertBehavior::backup) {
        if (auto failure = copyToBackup(original, item.fileName, limitSeconds, log))
            return failure;
    }
    if (!output.isTemp) {
        if (behavior == ConvertBehavior::trash)
            trashOrRemove(original, limitSeconds, log, stop);
        return std::nullopt;
    }
    return replaceInPlace(original, output.path, item.fileName, settings, limitSeconds, log, stop);
}
