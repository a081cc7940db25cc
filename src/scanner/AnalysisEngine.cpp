// SPDX-License-Identifier: GPL-3.0-or-later

#include "scanner/AnalysisEngine.h"

#include "exec/ChildProcess.h"
#include "exec/Deadline.h"
#include "exec/ProgramBuildCache.h"
#include "exec/TimeLimits.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFileInfo>
#include <QHash>
#include <QMap>
#include <QRegularExpression>

#include <algorithm>
#include <mutex>
#include <vector>

namespace {

struct Libraries {
    QString ffmpegVersion;           // "5.1.9-0+deb12u1"
    QMap<QString, QString> versions; // "libavcodec" -> "59.37.100"
};

struct Engine {
    QString program;
    QString version; // FFmpeg's, "5.1"
};

std::mutex decisionsLock;
QHash<QString, std::optional<Engine>> decisions; // by ffmpeg build
std::mutex idleLock;
std::vector<std::unique_ptr<AnalysisWorker>> idle;

// CHANFUSE_ANALYZER names it, or is empty for none; else it is installed
// under lib/chanfuse beside bin, or in the build tree where it was built.
std::optional<QString> analyserPath() {
    if (qEnvironmentVariableIsSet("CHANFUSE_ANALYZER")) {
        const QString named = qEnvironmentVariable("CHANFUSE_ANALYZER");
        if (named.isEmpty() || !QFileInfo(named).isExecutable())
            return std::nullopt;
        return named;
    }
    const QString installed = QCoreApplication::applicationDirPath() +
                              QStringLiteral("/../lib/chanfuse/chanfuse-analyzer");
    for (const QString& candidate : {installed, QStringLiteral(CHANFUSE_BUILT_ANALYZER)})
        if (QFileInfo(candidate).isExecutable())
            return QFileInfo(candidate).canonicalFilePath();
    return std::nullopt;
}

// What the program writes when it ends well; nothing when it fails.
std::optional<QByteArray> output(const QString& program, const QStringList& arguments) {
    const Deadline deadline(toolListingLimitSeconds);
    ChildProcess process;
    if (process.start(program, arguments, ChildProcess::Output::pipe(),
                      ChildProcess::Output::nullDevice()))
        return std::nullopt;
    QByteArray text = process.readAllStandardOutput(nullptr, deadline.token());
    if (process.waitForExit() != 0 || deadline.reason() != Deadline::Reason::none)
        return std::nullopt;
    return text;
}

// Both programs name FFmpeg's version and each library's run-time version:
// ffmpeg as "ffmpeg version 5.1.9-0+deb12u1 ..." and "libavcodec  59. 37.100
// / 59. 37.100", the analyser as "FFmpeg 5.1.9-0+deb12u1" and
// "libavcodec 59.37.100".
Libraries parse(const QByteArray& text) {
    Libraries found;
    static const QRegularExpression version(QStringLiteral("^(?:ffmpeg version|FFmpeg) (\\S+)"));
    static const QRegularExpression library(
        QStringLiteral("^(lib(?:avformat|avcodec|swresample|avutil))\\s+"
                       "(?:[\\d. ]+/)?\\s*(\\d+)\\.\\s*(\\d+)\\.\\s*(\\d+)\\s*$"));
    for (const QString& line : QString::fromUtf8(text).split(u'\n')) {
        if (const auto match = version.match(line); match.hasMatch())
            found.ffmpegVersion = match.captured(1);
        else if (const auto match = library.match(line.trimmed()); match.hasMatch())
            found.versions.insert(match.captured(1), match.captured(2) + u'.' + match.captured(3) +
                                                         u'.' + match.captured(4));
    }
    return found;
}

QString buildKey(const QString& ffmpegPath, const QString& analyser) {
    const QFileInfo file(ffmpegPath);
    return analyser + u'\n' + ffmpegPath + u'\n' + QString::number(file.size()) + u'\n' +
           QString::number(file.lastModified().toMSecsSinceEpoch());
}

// The analyser serves when it links the very libraries of that ffmpeg and
// can confine itself here: it names its versions from inside its sandbox,
// and fails where it cannot enter it.
std::optional<Engine> decide(const QString& ffmpegPath, const QString& analyser) {
    try {
        const std::optional<QByteArray> ourText = output(analyser, {QStringLiteral("--versions")});
        const std::optional<QByteArray> theirText =
            output(ffmpegPath, {QStringLiteral("-version")});
        if (!ourText || !theirText)
            return std::nullopt;
        const Libraries ours = parse(*ourText);
        if (ours.versions.size() != 4 || ours.versions != parse(*theirText).versions)
            return std::nullopt;
        return Engine{analyser, ours.ffmpegVersion.split(u'.').mid(0, 2).join(u'.')};
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

// That the workers serve a build is kept on disk, so the next run starts
// neither program to learn it again. That they do not is learnt afresh by each
// run: a start that missed its time limit on a busy machine says nothing of
// the build.
std::optional<Engine> keptOrDecided(const QString& ffmpegPath, const QString& analyser) {
    const QString kind = QStringLiteral("engines");
    const QStringList programs{analyser, ffmpegPath};
    if (const auto kept = ProgramBuildCache::read(kind, programs); kept && kept->size() == 1)
        return Engine{analyser, QString::fromUtf8(kept->first())};
    const std::optional<Engine> decided = decide(ffmpegPath, analyser);
    if (decided)
        ProgramBuildCache::write(kind, programs, {decided->version.toUtf8()});
    return decided;
}

std::optional<Engine> engineFor(const QString& ffmpegPath) {
    const std::optional<QString> analyser = analyserPath();
    if (!analyser)
        return std::nullopt;
    const QString key = buildKey(ffmpegPath, *analyser);
    const std::lock_guard guard(decisionsLock);
    if (!decisions.contains(key))
        decisions.insert(key, keptOrDecided(ffmpegPath, *analyser));
    return decisions.value(key);
}

} // namespace

std::optional<QString> AnalysisEngine::workerProgram(const QString& ffmpegPath) {
    const std::optional<Engine> engine = engineFor(ffmpegPath);
    return engine ? std::optional(engine->program) : std::nullopt;
}

QString AnalysisEngine::description(const QString& ffmpegPath, qint64 workers) {
    const std::optional<Engine> engine = engineFor(ffmpegPath);
    if (!engine)
        return QStringLiteral("Analysis: ffprobe and ffmpeg at %1")
            .arg(QFileInfo(ffmpegPath).path());
    return QStringLiteral("Analysis: built-in FFmpeg libraries %1, %2 %3")
        .arg(engine->version)
        .arg(workers)
        .arg(workers == 1 ? QStringLiteral("worker") : QStringLiteral("workers"));
}

AnalysisWorker::Reply AnalysisEngine::ask(const QString& program,
                                          const AnalysisWorker::Request& request,
                                          const std::function<bool(QByteArrayView)>& onPcm,
                                          std::stop_token stop) {
    std::unique_ptr<AnalysisWorker> worker;
    {
        const std::lock_guard guard(idleLock);
        const auto found =
            std::find_if(idle.begin(), idle.end(), [&program](const auto& candidate) {
                return candidate->programPath() == program;
            });
        if (found != idle.end()) {
            worker = std::move(*found);
            idle.erase(found);
        }
    }
    if (!worker)
        worker = std::make_unique<AnalysisWorker>(program);
    AnalysisWorker::Reply reply = worker->run(request, onPcm, stop);
    const std::lock_guard guard(idleLock);
    idle.push_back(std::move(worker));
    return reply;
}
