#pragma once

#include "model/FileItem.h"
#include "model/Settings.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QUrl>

#include <optional>

// The first seconds of a file as 16-bit stereo PCM at 44.1 kHz, and the
// channel count ffmpeg reported for the input (1 or 2).
struct DecodedAudio {
    QByteArray pcm;
    int channelCount = 2;
};

// Finds audio files and classifies them with ffprobe and ffmpeg. Every call
// blocks the calling worker thread (never the GUI thread); tool runs happen on
// the scan queues under hard time limits.
class AudioScanner {
public:
    explicit AudioScanner(Settings& settings) : settings(settings) {}

    // The channel count of the first audio stream, or nothing for any failure.
    std::optional<qint64> ffprobeChannelCount(const QUrl& url) const;

    // Throws ScannerError for every kind of failure.
    DecodedAudio decodeToRawPCM(const QUrl& url, qint64 seconds) const;

    // 1 or 2, from the "Audio:" stream lines of ffmpeg's diagnostics.
    static int parseChannelCount(const QString& diagnostics);

    static bool compareChannels(QByteArrayView data, ComparisonMethod method);
    static bool compareByteExact(QByteArrayView data, qint64 samplesPerChannel, int sampleSize);
    static bool compareStatistical(QByteArrayView data, qint64 samplesPerChannel, int sampleSize);

    // Classifies one item; its fields are written on the GUI thread. Never
    // throws and never leaves the item pending.
    void analyzeFile(const FileItemPtr& item) const;

    // Whether a file name has one of the supported audio extensions (any case).
    // Discovery and dropped files go through this one test.
    static bool hasAudioExtension(const QString& fileName);

    // The audio files below a folder, in walk order; empty on any failure.
    QList<QUrl> findAudioFiles(const QUrl& folder) const;

private:
    Settings& settings;
};
