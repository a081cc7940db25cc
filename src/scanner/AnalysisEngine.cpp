#include "scanner/AnalysisEngine.h"

#include "exec/ChildProcess.h"
#include "exec/TimeLimits.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFileInfo>
#include <QHash>
#include <QMap>
#include <QRegularExpression>

#include <mutex>
#include <vector>

namespace {

constexpr double versionLimitSeconds = 10;

struct Libraries {
    QString ffmpegVersion;           // "5.1.9-0+deb12u1"
    QMap<QString, QString> versions; // "libavcodec" -> "59.37.100"
};

std::mutex decisionsLock;
QHash<QString, std::optional<QString>> decisions; // by ffmpeg build
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

QByteArray output(const QString& program, const QStringList& arguments) {
    return withThrowingTimeout(versionLimitSeconds, [&](std::stop_token stop) {
        ChildProcess process;
        if (process.start(program, arguments, ChildProcess::Output::pipe(),
                          ChildProcess::Output::nullDevice()))
            return QByteArray();
        QByteArray text = process.readAllStandardOutput(nullptr, stop);
        return process.waitForExit() == 0 ? text : QByteArray();
    });
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

std::optional<QString> decide(const QString& ffmpegPath, const QString& analyser) {
    try {
        const Libraries ours = parse(output(analyser, {QStringLiteral("--versions")}));
        const Libraries theirs = parse(output(ffmpegPath, {QStringLiteral("-version")}));
        if (ours.versions.size() == 4 && ours.versions == theirs.versions)
            return analyser;
    } catch (const std::exception&) {
    }
    return std::nullopt;
}

QString buildKey(const QString& ffmpegPath, const QString& analyser) {
    const QFileInfo file(ffmpegPath);
    return analyser + u'\n' + ffmpegPath + u'\n' + QString::number(file.size()) + u'\n' +
           QString::number(file.lastModified().toMSecsSinceEpoch());
}

} // namespace

std::optional<QString> AnalysisEngine::workerProgram(const QString& ffmpegPath) {
    const std::optional<QString> analyser = analyserPath();
    if (!analyser)
        return std::nullopt;
    const QString key = buildKey(ffmpegPath, *analyser);
    const std::lock_guard guard(decisionsLock);
    if (!decisions.contains(key))
        decisions.insert(key, decide(ffmpegPath, *analyser));
    return decisions.value(key);
}

QString AnalysisEngine::description(const QString& ffmpegPath, qint64 workers) {
    const std::optional<QString> program = workerProgram(ffmpegPath);
    if (!program)
        return QStringLiteral("Analysis: ffprobe and ffmpeg at %1")
            .arg(QFileInfo(ffmpegPath).path());
    const QStringList version =
        parse(output(*program, {QStringLiteral("--versions")})).ffmpegVersion.split(u'.');
    return QStringLiteral("Analysis: built-in FFmpeg libraries %1, %2 worker(s)")
        .arg(version.mid(0, 2).join(u'.'))
        .arg(workers);
}

std::unique_ptr<AnalysisWorker> AnalysisEngine::takeWorker(const QString& program) {
    {
        const std::lock_guard guard(idleLock);
        for (auto worker = idle.begin(); worker != idle.end(); ++worker) {
            if ((*worker)->programPath() == program) {
                std::unique_ptr<AnalysisWorker> taken = std::move(*worker);
                idle.erase(worker);
                return taken;
            }
        }
    }
    return std::make_unique<AnalysisWorker>(program);
}

void AnalysisEngine::returnWorker(std::unique_ptr<AnalysisWorker> worker) {
    const std::lock_guard guard(idleLock);
    idle.push_back(std::move(worker));
}
