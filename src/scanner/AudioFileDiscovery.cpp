#include "scanner/AudioScanner.h"

#include "exec/HardTimeout.h"
#include "exec/ToolOutput.h"
#include "model/PathParts.h"

#include <QFile>
#include <QFileInfo>
#include <QMap>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <fts.h>
#include <memory>
#include <sys/stat.h>

namespace {

constexpr double existenceLimitSeconds = 10;
constexpr double openingLimitSeconds = 30;

constexpr std::array<QStringView, 9> audioExtensions{
    u"wav", u"aiff", u"aif", u"flac", u"mp3", u"m4a", u"aac", u"wma", u"ogg",
};

// The names the converter gives its temporary outputs and the originals it
// keeps aside while replacing them; a run that was killed leaves them behind.
const QString temporaryOutputPrefix = QStringLiteral("sonfold_out_");
const QString keptOriginalPrefix = QStringLiteral(".sonfold_orig_");

// Copies of originals made by earlier conversions: converting them again
// would replace the user's only stereo copy.
const QString backupFolderName = QStringLiteral("_backup");

struct FtsHandle {
    FTS* fts = nullptr;
    ~FtsHandle() {
        if (fts)
            ::fts_close(fts);
    }
};

// Physical walk: symbolic links are reported, never entered.
std::shared_ptr<FtsHandle> openWalk(const QString& folder) {
    auto walk = std::make_shared<FtsHandle>();
    QByteArray path = QFile::encodeName(folder);
    char* roots[] = {path.data(), nullptr};
    walk->fts = ::fts_open(roots, FTS_PHYSICAL | FTS_NOCHDIR, nullptr);
    return walk;
}

// The canonical path of a link's target when that is a regular file outside
// any backup folder, or nothing.
std::optional<QString> linkedRegularFile(const char* link) {
    struct stat target;
    if (::stat(link, &target) != 0 || !S_ISREG(target.st_mode))
        return std::nullopt;
    std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(link, nullptr), &std::free);
    if (!resolved)
        return std::nullopt;
    const std::optional<QString> path = strictUtf8(QByteArray(resolved.get()));
    if (!path || path->split(u'/').contains(backupFolderName))
        return std::nullopt;
    return path;
}

class Walk {
public:
    void visitFile(const QString& path) {
        const QString name = lastPathComponent(path);
        if (name.startsWith(temporaryOutputPrefix))
            found.notes.append(QStringLiteral("Leftover of an interrupted conversion "
                                              "(temporary output): ") +
                               path);
        else if (name.startsWith(keptOriginalPrefix))
            found.notes.append(QStringLiteral("Leftover of an interrupted conversion "
                                              "(kept original): ") +
                               path);
        else if (!name.startsWith(u'.') && AudioScanner::hasAudioExtension(name))
            found.audioFiles.append(QUrl::fromLocalFile(path));
    }

    // A name the tools could not be handed safely.
    void skipUndecodable(const FTSENT* entry) {
        const QByteArray parent(entry->fts_path,
                                qsizetype(entry->fts_pathlen - entry->fts_namelen));
        ++undecodableIn[QFile::decodeName(parent.chopped(1))];
    }

    DiscoveredFiles finish() {
        for (auto folder = undecodableIn.cbegin(); folder != undecodableIn.cend(); ++folder)
            found.notes.append(QStringLiteral("Skipped %1 name(s) that are not valid UTF-8 in: %2")
                                   .arg(folder.value())
                                   .arg(folder.key()));
        return std::move(found);
    }

private:
    DiscoveredFiles found;
    QMap<QString, int> undecodableIn;
};

} // namespace

bool AudioScanner::hasAudioExtension(const QString& fileName) {
    const QString extension = splitExtension(fileName).extension.toLower();
    return !extension.isEmpty() && std::find(audioExtensions.begin(), audioExtensions.end(),
                                             extension) != audioExtensions.end();
}

DiscoveredFiles AudioScanner::findAudioFiles(const QUrl& folder) const {
    std::shared_ptr<FtsHandle> handle;
    try {
        // Canonical from the start, so every path found below is too.
        const QString root = withHardTimeout(existenceLimitSeconds, [path = folder.toLocalFile()] {
            const QFileInfo info(path);
            return info.isDir() ? info.canonicalFilePath() : QString();
        });
        if (root.isEmpty())
            return {};
        handle = withHardTimeout(openingLimitSeconds, [root] { return openWalk(root); });
    } catch (const std::exception&) {
        return {};
    }
    if (!handle->fts)
        return {};

    Walk walk;
    while (FTSENT* entry = ::fts_read(handle->fts)) {
        if (entry->fts_level == FTS_ROOTLEVEL)
            continue;
        const std::optional<QString> name =
            strictUtf8(QByteArray(entry->fts_name, qsizetype(entry->fts_namelen)));
        if (!name) {
            walk.skipUndecodable(entry);
            if (entry->fts_info == FTS_D)
                ::fts_set(handle->fts, entry, FTS_SKIP);
            continue;
        }
        switch (entry->fts_info) {
        case FTS_D:
            if (name->startsWith(u'.') || *name == backupFolderName)
                ::fts_set(handle->fts, entry, FTS_SKIP);
            break;
        case FTS_F:
            walk.visitFile(QFile::decodeName(entry->fts_path));
            break;
        case FTS_SL:
            if (name->startsWith(u'.'))
                break;
            if (const std::optional<QString> target = linkedRegularFile(entry->fts_path))
                walk.visitFile(*target);
            break;
        default:
            // Pipes, sockets and devices would hold a tool for good; unreadable
            // folders and dangling links have nothing to offer.
            break;
        }
    }
    return walk.finish();
}
