#include "scanner/AudioScanner.h"

#include "exec/HardTimeout.h"
#include "model/PathParts.h"

#include <QDirIterator>
#include <QFileInfo>

#include <algorithm>
#include <array>
#include <memory>

namespace {

constexpr double existenceLimitSeconds = 10;
constexpr double openingLimitSeconds = 30;

constexpr std::array<QStringView, 9> audioExtensions{
    u"wav", u"aiff", u"aif", u"flac", u"mp3", u"m4a", u"aac", u"wma", u"ogg",
};

// Without QDir::Hidden (and without AllDirs, which would let hidden folders be
// entered) dot entries are neither listed nor walked; without FollowSymlinks a
// link is listed by its own name and never entered, so a link to an ancestor
// cannot make the walk go round. System keeps sockets and dangling links,
// which the walk lists like any other entry.
std::shared_ptr<QDirIterator> openWalk(const QString& folder) {
    return std::make_shared<QDirIterator>(
        folder, QDir::Dirs | QDir::Files | QDir::System | QDir::NoDotAndDotDot,
        QDirIterator::Subdirectories);
}

} // namespace

bool AudioScanner::hasAudioExtension(const QString& fileName) {
    const QString extension = splitExtension(fileName).extension.toLower();
    return !extension.isEmpty() && std::find(audioExtensions.begin(), audioExtensions.end(),
                                             extension) != audioExtensions.end();
}

QList<QUrl> AudioScanner::findAudioFiles(const QUrl& folder) const {
    const QString path = folder.toLocalFile();
    std::shared_ptr<QDirIterator> walk;
    try {
        if (!withHardTimeout(existenceLimitSeconds, [path] { return QFileInfo::exists(path); }))
            return {};
        // The iterator opens the top folder as it is made; should that overrun,
        // the abandoned call still owns the iterator it is building.
        walk = withHardTimeout(openingLimitSeconds, [path] { return openWalk(path); });
    } catch (const std::exception&) {
        return {};
    }

    QList<QUrl> found;
    while (walk->hasNext()) {
        walk->next();
        if (hasAudioExtension(walk->fileName()))
            found.append(QUrl::fromLocalFile(walk->filePath()));
    }
    return found;
}
