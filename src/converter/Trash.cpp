#include "converter/Trash.h"

#include "exec/HardTimeout.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <cstdio>

namespace {

constexpr double trashLimitSeconds = 10;

// Reported as trashed but moved somewhere else (a "files" folder in the
// working directory): put the file back where it was and drop the stray
// bookkeeping, so the caller's fallback finds it in its place.
void undoMisplacedTrash(const QString& path, const QString& placed) {
    const QFileInfo moved(placed);
    std::rename(QFile::encodeName(moved.absoluteFilePath()).constData(),
                QFile::encodeName(path).constData());
    QDir root = moved.absoluteDir();
    root.rmdir(moved.absolutePath());
    if (!root.cdUp())
        return;
    const QString info = root.filePath(QStringLiteral("info"));
    QFile::remove(info + u'/' + moved.fileName() + QStringLiteral(".trashinfo"));
    root.rmdir(info);
}

bool trashNow(const QString& path) {
    // Qt 6.4 quietly "trashes" into the working directory when the data
    // folder does not exist yet (a fresh account), so make sure it does.
    QDir().mkpath(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation));

    QString placed;
    if (!QFile::moveToTrash(path, &placed))
        return false;
    const bool landed = QFileInfo::exists(placed) && !QFileInfo::exists(path);
    if (landed && liesInTrashFolder(placed))
        return true;
    if (landed)
        undoMisplacedTrash(path, placed);
    return false;
}

} // namespace

bool liesInTrashFolder(const QString& placed) {
    QDir folder = QFileInfo(placed).absoluteDir();
    if (folder.dirName() != QLatin1String("files") || !folder.cdUp())
        return false;
    const QString trashName = folder.dirName();
    if (trashName == QLatin1String("Trash") || trashName.startsWith(QLatin1String(".Trash-")))
        return true;
    return folder.cdUp() && folder.dirName() == QLatin1String(".Trash");
}

void moveToTrash(const QString& path) {
    if (!withHardTimeout(trashLimitSeconds, [path] { return trashNow(path); }))
        throw TrashError();
}
