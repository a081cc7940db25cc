// SPDX-License-Identifier: GPL-3.0-or-later

#include "converter/AudioFormatProbe.h"

#include "exec/ChildProcess.h"
#include "exec/FFmpegLocator.h"
#include "exec/TimeLimits.h"
#include "scanner/AnalysisEngine.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

// ffprobe writes most numbers as JSON strings ("44100") and leaves out the
// ones it does not know.
double number(const QJsonObject& object, const char* key) {
    const QJsonValue value = object.value(QLatin1String(key));
    return value.isString() ? value.toString().toDouble() : value.toDouble();
}

void addTags(QHash<QString, QString>& tags, const QJsonObject& object) {
    const QJsonObject found = object.value(QLatin1String("tags")).toObject();
    for (auto tag = found.begin(); tag != found.end(); ++tag)
        tags.insert(tag.key().toLower(), tag.value().toString());
}

std::optional<AudioFormat> runProbe(const QString& ffprobe, const QString& path,
                                    std::stop_token stop) {
    ChildProcess process;
    if (process.start(ffprobe,
                      {QStringLiteral("-v"), QStringLiteral("error"),
                       QStringLiteral("-show_entries"),
                       QStringLiteral("stream=index,codec_type,codec_name,sample_fmt,"
                                      "bits_per_sample,bits_per_raw_sample,bit_rate,sample_rate,"
                                      "channels,duration:stream_disposition=attached_pic:"
                                      "stream_tags:format=bit_rate,duration,size:format_tags"),
                       QStringLiteral("-of"), QStringLiteral("json"), path},
                      ChildProcess::Output::pipe(), ChildProcess::Output::nullDevice()))
        return std::nullopt;
    const QByteArray output = process.readAllStandardOutput(nullptr, stop);
    if (stop.stop_requested() || process.waitForExit() != 0)
        return std::nullopt;
    return audioFormatFromReport(output);
}

} // namespace

std::optional<AudioFormat> audioFormatFromReport(const QByteArray& json) {
    const QJsonObject probed = QJsonDocument::fromJson(json).object();
    const QJsonObject container = probed.value(QLatin1String("format")).toObject();
    std::optional<AudioFormat> format;
    QList<AttachedPicture> pictures;
    QList<OtherStream> others;
    for (const QJsonValue& entry : probed.value(QLatin1String("streams")).toArray()) {
        const QJsonObject stream = entry.toObject();
        const QString type = stream.value(QLatin1String("codec_type")).toString();
        if (type == QLatin1String("video") && stream.value(QLatin1String("disposition"))
                                                      .toObject()
                                                      .value(QLatin1String("attached_pic"))
                                                      .toInt() == 1) {
            pictures.append({stream.value(QLatin1String("index")).toInt(),
                             stream.value(QLatin1String("codec_name")).toString()});
        } else if (type == QLatin1String("audio") && !format) {
            format.emplace();
            format->codec = stream.value(QLatin1String("codec_name")).toString();
            format->sampleFormat = stream.value(QLatin1String("sample_fmt")).toString();
            format->bitsPerSample = int(number(stream, "bits_per_sample"));
            if (format->bitsPerSample == 0)
                format->bitsPerSample = int(number(stream, "bits_per_raw_sample"));
            format->bitRate = qint64(number(stream, "bit_rate"));
            format->sampleRate = int(number(stream, "sample_rate"));
            format->channels = int(number(stream, "channels"));
            format->duration = number(stream, "duration");
            addTags(format->tags, container);
            addTags(format->tags, stream);
        } else {
            others.append({stream.value(QLatin1String("index")).toInt(), type});
        }
    }
    if (!format || format->codec.isEmpty())
        return std::nullopt;
    // Formats that only know the whole file's numbers (VBR, Opus) give those.
    if (format->bitRate == 0)
        format->bitRate = qint64(number(container, "bit_rate"));
    if (format->duration == 0)
        format->duration = number(container, "duration");
    format->fileSize = qint64(number(container, "size"));
    format->pictures = pictures;
    format->otherStreams = others;
    return format;
}

std::optional<AudioFormat> probeAudioFormat(const QString& ffmpegPath, const QString& path,
                                            std::stop_token stop) {
    if (const std::optional<QString> analyser = AnalysisEngine::workerProgram(ffmpegPath)) {
        const AnalysisWorker::Reply reply = AnalysisEngine::ask(
            *analyser, {path, true, false, std::nullopt, formatProbeLimitSeconds}, {}, stop);
        if (reply.status != AnalysisWorker::Reply::Status::answered)
            return std::nullopt;
        return audioFormatFromReport(reply.probe);
    }
    const QString ffprobe = FFmpegLocator::ffprobePath(ffmpegPath);
    try {
        return withToolTimeout(
            scanQueue(), formatProbeLimitSeconds,
            [ffprobe, path](std::stop_token toolStop) { return runProbe(ffprobe, path, toolStop); },
            stop);
    } catch (const TimeoutError&) {
        return std::nullopt;
    } catch (const CancellationError&) {
        return std::nullopt;
    }
}
