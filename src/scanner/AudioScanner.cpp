// SPDX-License-Identifier: GPL-3.0-or-later

#include "scanner/AudioScanner.h"

#include "exec/ChildProcess.h"
#include "exec/FFmpegLocator.h"
#include "exec/TimeLimits.h"
#include "exec/ToolOutput.h"
#include "model/OwnFileNames.h"
#include "model/PathParts.h"
#include "scanner/AnalysisEngine.h"
#include "scanner/ChannelComparison.h"
#include "scanner/PcmDecode.h"
#include "scanner/ScannerError.h"
#include "scanner/WholeFileComparison.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QRegularExpression>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <exception>
#include <fts.h>
#include <memory>
#include <sys/stat.h>

namespace {

constexpr double existenceLimitSeconds = 10;
constexpr double openingLimitSeconds = 30;

constexpr std::array<QStringView, 9> audioExtensions{
    u"wav", u"aiff", u"aif", u"flac", u"mp3", u"m4a", u"aac", u"wma", u"ogg",
};

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

const QString outsideLinkText =
    QStringLiteral("Skipped: a link to a file outside the chosen folders");

class Walk {
public:
    explicit Walk(QStringList chosenFolders) : chosenFolders(std::move(chosenFolders)) {}

    // A link is followed only into the folders the user chose: converting
    // through it replaces or trashes its target. One that leads elsewhere is
    // listed under its own name, to be shown and never converted.
    void visitLink(const QString& link, const std::optional<QString>& target) {
        if (!target)
            return;
        const bool inside =
            std::any_of(chosenFolders.cbegin(), chosenFolders.cend(), [&](const QString& folder) {
                return target->startsWith(folder.endsWith(u'/') ? folder : folder + u'/');
            });
        if (inside)
            visitFile(*target);
        else if (AudioScanner::hasAudioExtension(lastPathComponent(link)))
            found.audioFiles.append(QUrl::fromLocalFile(link));
    }

    void visitFile(const QString& path) {
        const QString name = lastPathComponent(path);
        if (temporaryOutputName.match(name).hasMatch())
            found.notes.append(QStringLiteral("Leftover of an interrupted conversion "
                                              "(temporary output): ") +
                               path);
        else if (keptOriginalName.match(name).hasMatch())
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
    QStringList chosenFolders;
    DiscoveredFiles found;
    QMap<QString, int> undecodableIn;
};

constexpr double probeLimitSeconds = 10;
constexpr double decodeGraceSeconds = 10;

// Reads the parameters of every audio stream from ffprobe's JSON. They come
// from the streams themselves: no tag or file name can reach them, unlike
// the stream descriptions in ffmpeg's diagnostics.
std::optional<AudioLayout> parseLayout(const QByteArray& json) {
    QJsonArray streams;
    for (const QJsonValue& stream :
         QJsonDocument::fromJson(json).object().value(u"streams").toArray())
        if (stream.toObject().value(u"codec_type").toString() == u"audio")
            streams.append(stream);
    if (streams.isEmpty())
        return std::nullopt;
    const QJsonObject first = streams.first().toObject();
    const qint64 firstChannels = first.value(u"channels").toInteger();
    if (firstChannels < 1)
        return std::nullopt;
    return AudioLayout{firstChannels, streams.size(), first.value(u"codec_name").toString(),
                       first.value(u"sample_rate").toString().toInt()};
}

// Reads a started tool's output to its end. At its time limit the tool has
// been killed and its output is of no use; leaving at once frees the queue.
QByteArray readToEnd(ChildProcess& process, std::stop_token stop) {
    QByteArray output = process.readAllStandardOutput(nullptr, stop);
    if (stop.stop_requested())
        throw TimeoutError();
    return output;
}

std::optional<AudioLayout> runProbe(const QString& ffprobe, const QString& file,
                                    std::stop_token stop) {
    ChildProcess process;
    if (process.start(ffprobe,
                      {QStringLiteral("-v"), QStringLiteral("error"),
                       QStringLiteral("-select_streams"), QStringLiteral("a"),
                       QStringLiteral("-show_entries"),
                       QStringLiteral("stream=codec_type,channels,codec_name,sample_rate"),
                       QStringLiteral("-of"), QStringLiteral("json"), file},
                      ChildProcess::Output::pipe(), ChildProcess::Output::nullDevice()))
        return std::nullopt;
    const QByteArray output = readToEnd(process, stop);
    process.waitForExit();
    return parseLayout(output);
}

QByteArray runDecode(const QString& ffmpeg, const QString& file, qint64 seconds,
                     std::stop_token stop) {
    ChildProcess process;
    if (process.start(ffmpeg, pcmDecodeArguments(file, seconds), ChildProcess::Output::pipe(),
                      ChildProcess::Output::nullDevice()))
        throw ScannerError();
    QByteArray pcm = readToEnd(process, stop);
    if (process.waitForExit() != 0)
        throw ScannerError();
    return pcm;
}

// Whether the file's audio is one stream of two channels: the only audio
// whose channels are compared, and the only audio a worker decodes with its
// probe.
bool isOneTwoChannelStream(const AudioLayout& layout) {
    return layout.audioStreams == 1 && layout.channels == 2;
}

// The first seconds of a two-channel stream, judged as they arrive rather
// than held whole: their PCM is most of what a scan handles.
class ScanWindow {
public:
    ScanWindow(const Settings& settings, const AudioLayout& layout)
        : comparer(judgementFor(settings.comparisonMethod(), layout.codec, layout.sampleRate)) {}

    // False once the verdict is in: the channels differ (so the window is
    // not silent either).
    bool feed(QByteArrayView chunk) {
        bytes += chunk.size();
        if (silent)
            silent = std::all_of(chunk.begin(), chunk.end(), [](char byte) { return byte == 0; });
        if (comparing)
            comparing = comparer.feed(chunk);
        return comparing;
    }

    bool holdsAFrame() const { return bytes >= frameBytes(PcmSamples::f64); }
    bool isDigitalSilence() const { return silent; }
    bool channelsMatch() { return comparer.verdict().channelsMatch; }

private:
    WholeFileComparer comparer;
    qint64 bytes = 0;
    bool silent = true;
    bool comparing = true;
};

struct WorkerAnswer {
    std::optional<AudioLayout> layout;
    std::optional<ScanWindow> window; // of one two-channel stream
};

// Probe and decode with one open of the file, by a worker of the built-in
// libraries, under the sum of both tools' limits. Nothing when the workers
// do not serve this ffmpeg; the tools' errors for the tools' failures.
std::optional<WorkerAnswer> askWorker(const Settings& settings, const QString& file,
                                      qint64 seconds) {
    const std::optional<QString> ffmpeg = FFmpegLocator::ffmpegPath();
    const std::optional<QString> program =
        ffmpeg ? AnalysisEngine::workerProgram(*ffmpeg) : std::nullopt;
    if (!program)
        return std::nullopt;
    WorkerAnswer answer;
    AnalysisWorker::Request request{file, true, true, seconds,
                                    probeLimitSeconds + double(seconds) + decodeGraceSeconds};
    request.onProbe = [&answer, &settings](const QByteArray& probe) {
        answer.layout = parseLayout(probe);
        if (answer.layout && isOneTwoChannelStream(*answer.layout))
            answer.window.emplace(settings, *answer.layout);
    };
    const AnalysisWorker::Reply reply =
        AnalysisEngine::ask(*program, request, [&answer](QByteArrayView chunk) {
            return !answer.window || answer.window->feed(chunk);
        });
    switch (reply.status) {
    case AnalysisWorker::Reply::Status::answered:
        return answer;
    case AnalysisWorker::Reply::Status::workerLost:
        throw ScannerError(qUtf8Printable(reply.reason));
    case AnalysisWorker::Reply::Status::refused:
        // Readable enough to probe but not to decode: as a failed decode.
        if (answer.layout)
            throw ScannerError();
        return WorkerAnswer{};
    case AnalysisWorker::Reply::Status::timedOut:
    case AnalysisWorker::Reply::Status::stopped:
        break;
    }
    throw ScannerError();
}

} // namespace

bool AudioScanner::hasAudioExtension(const QString& fileName) {
    const QString extension = splitExtension(fileName).extension.toLower();
    return !extension.isEmpty() && std::find(audioExtensions.begin(), audioExtensions.end(),
                                             extension) != audioExtensions.end();
}

DiscoveredFiles AudioScanner::findAudioFiles(const QUrl& folder,
                                             const QList<QUrl>& chosenFolders) const {
    std::shared_ptr<FtsHandle> handle;
    QStringList roots;
    try {
        // Canonical from the start, so every path found below is too.
        QStringList paths{folder.toLocalFile()};
        for (const QUrl& chosen : chosenFolders)
            paths.append(chosen.toLocalFile());
        roots = withHardTimeout(existenceLimitSeconds, [paths] {
            QStringList canonical;
            for (const QString& path : paths) {
                const QFileInfo info(path);
                canonical.append(info.isDir() ? info.canonicalFilePath() : QString());
            }
            return canonical;
        });
        const QString root = roots.first();
        if (root.isEmpty())
            return {};
        handle = withHardTimeout(openingLimitSeconds, [root] { return openWalk(root); });
    } catch (const std::exception&) {
        return {};
    }
    if (!handle->fts)
        return {};

    roots.removeAll(QString());
    Walk walk(roots);
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
            walk.visitLink(QFile::decodeName(entry->fts_path), linkedRegularFile(entry->fts_path));
            break;
        default:
            // Pipes, sockets and devices would hold a tool for good; unreadable
            // folders and dangling links have nothing to offer.
            break;
        }
    }
    return walk.finish();
}

std::optional<AudioLayout> AudioScanner::ffprobeAudioLayout(const QUrl& url) const {
    const std::optional<QString> ffmpeg = FFmpegLocator::ffmpegPath();
    if (!ffmpeg)
        return std::nullopt;
    const QString ffprobe = FFmpegLocator::ffprobePath(*ffmpeg);
    const QString file = url.toLocalFile();
    try {
        return withToolTimeout(
            scanQueue(), probeLimitSeconds,
            [ffprobe, file](std::stop_token stop) { return runProbe(ffprobe, file, stop); });
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

QByteArray AudioScanner::decodeToRawPCM(const QUrl& url, qint64 seconds) const {
    const std::optional<QString> ffmpeg = FFmpegLocator::ffmpegPath();
    if (!ffmpeg)
        throw ScannerError();
    const QString file = url.toLocalFile();
    try {
        return withToolTimeout(scanQueue(), double(seconds) + decodeGraceSeconds,
                               [path = *ffmpeg, file, seconds](std::stop_token stop) {
                                   return runDecode(path, file, seconds, stop);
                               });
    } catch (const std::exception&) {
        throw ScannerError();
    }
}

bool AudioScanner::compareChannels(QByteArrayView data, PcmJudgement judgement) {
    WholeFileComparer comparer(judgement);
    comparer.feed(data);
    return comparer.verdict().channelsMatch;
}

AnalysisVerdict AudioScanner::analyzeFile(const QUrl& url) const {
    ChannelStatus channels = ChannelStatus::unknown;
    try {
        // Discovery lists links only when they lead outside the chosen
        // folders; a dropped link is not followed either.
        if (withHardTimeout(existenceLimitSeconds,
                            [path = url.toLocalFile()] { return QFileInfo(path).isSymLink(); }))
            return {channels, 0, DetectionStatus::timedOut, outsideLinkText, false};
        // Without a trustworthy count the file cannot be shown to hold two
        // channels, and only such a file may ever be converted. A name proves
        // nothing: a file named like a converted one is probed like any other.
        const qint64 seconds = settings.scanLimitSeconds();
        std::optional<WorkerAnswer> answered = askWorker(settings, url.toLocalFile(), seconds);
        const std::optional<AudioLayout> layout =
            answered ? answered->layout : ffprobeAudioLayout(url);
        if (!layout)
            throw ScannerError("ffprobe could not read an audio stream from the file");
        // More than two channels, or more than one audio stream: a mono file
        // would lose all but one of them, so the file is listed and never
        // offered.
        if (layout->audioStreams > 1)
            return {ChannelStatus::multipleStreams, layout->audioStreams,
                    DetectionStatus::multichannel, std::nullopt, false};
        if (layout->channels == 1)
            return {ChannelStatus::mono, 0, DetectionStatus::mono, std::nullopt, std::nullopt};
        if (layout->channels > 2)
            return {ChannelStatus::multichannel, layout->channels, DetectionStatus::multichannel,
                    std::nullopt, false};

        channels = ChannelStatus::stereo;
        std::optional<ScanWindow> window = answered ? std::move(answered->window) : std::nullopt;
        if (!window) {
            window.emplace(settings, *layout);
            window->feed(decodeToRawPCM(url, seconds));
        }
        if (!window->holdsAFrame())
            return {channels, 0, DetectionStatus::error, QStringLiteral("No audio to compare"),
                    std::nullopt};
        // A silent window is no evidence: hidden tracks, live recordings and
        // fade-ins often open with silence before real stereo.
        const bool fake = window->isDigitalSilence()
                              ? compareWholeFile(url,
                                                 judgementFor(settings.comparisonMethod(),
                                                              layout->codec, layout->sampleRate),
                                                 wholeFileLimitSeconds(settings))
                                    .channelsMatch
                              : window->channelsMatch();
        return {channels, 0, fake ? DetectionStatus::fakeStereo : DetectionStatus::realStereo,
                std::nullopt, fake && settings.autoSelectAll()};
    } catch (const std::exception& failure) {
        return {channels, 0, DetectionStatus::error, QString::fromUtf8(failure.what()),
                std::nullopt};
    }
}
