// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QHash>
#include <QList>
#include <QString>

#include <optional>
#include <stop_token>

// A picture carried in the file as cover art (an attached-picture stream).
struct AttachedPicture {
    int streamIndex = 0; // among all the file's streams, as in "-map 0:N"
    QString codec;       // "mjpeg", "png"
};

// A stream that is neither the first audio stream nor a cover picture: a
// video track, subtitles, data.
struct OtherStream {
    int streamIndex = 0;
    QString type; // "video", "subtitle", "data", "attachment", or a second "audio"
};

// What one probe tells of a file: its first audio stream, its cover
// pictures, its other streams and its tags. Numbers the file does not state
// are 0.
struct AudioFormat {
    QString codec;         // "flac", "pcm_s24be", "mp3"
    QString sampleFormat;  // the decoded samples: "s16", "s32p", "fltp"
    int bitsPerSample = 0; // bits per sample, else the bits that carry the signal
    qint64 bitRate = 0;    // bits per second: the stream's, else the whole file's
    int sampleRate = 0;    // Hz
    int channels = 0;
    double duration = 0; // seconds: the stream's, else the whole file's
    qint64 fileSize = 0; // bytes
    QList<AttachedPicture> pictures;
    QList<OtherStream> otherStreams;
    QHash<QString, QString> tags; // the file's, then the audio stream's; keys in lower case
};

// The format a JSON report of ffprobe's, or of the analyser's in the same
// shape, describes; nothing when it names no audio stream.
std::optional<AudioFormat> audioFormatFromReport(const QByteArray& json);

// Describes `path` with a worker of the analyser where its workers serve
// `ffmpegPath`, else with the ffprobe beside it run on a scan queue; under the
// probe's 10 s limit either way. Nothing when the probe fails, times out, is
// stopped or finds no audio stream.
std::optional<AudioFormat> probeAudioFormat(const QString& ffmpegPath, const QString& path,
                                            std::stop_token stop = {});
