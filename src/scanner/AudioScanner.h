// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "model/Settings.h"
#include "scanner/AnalysisVerdict.h"
#include "scanner/ChannelComparison.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QStringList>
#include <QUrl>

#include <optional>

// A file's audio as ffprobe reads it from the stream parameters.
struct AudioLayout {
    qint64 channels = 0; // of the first audio stream
    qint64 audioStreams = 0;
    QString codec; // of the first audio stream: "flac", "mp3"
    int sampleRate = 0;
};

// What a folder walk found: the audio files, by canonical path in walk order,
// and a line for the scan's log about each kind of entry passed over that the
// user should know of.
struct DiscoveredFiles {
    QList<QUrl> audioFiles;
    QStringList notes;
};

// Finds audio files and classifies them with ffprobe and ffmpeg. Every call
// blocks the calling worker thread (never the GUI thread); tool runs happen on
// the scan queues under hard time limits.
class AudioScanner {
public:
    explicit AudioScanner(Settings& settings) : settings(settings) {}

    // Nothing for any failure, and for a file without audio.
    std::optional<AudioLayout> ffprobeAudioLayout(const QUrl& url) const;

    // The first `seconds` of the first audio stream in the PCM of
    // pcmStreamArguments. Throws ScannerError for every kind of failure.
    QByteArray decodeToRawPCM(const QUrl& url, qint64 seconds) const;

    // Whether every frame of `data` passes, judged as the whole-file check
    // judges; false without a whole frame.
    static bool compareChannels(QByteArrayView data, PcmJudgement judgement);

    // Classifies one file; the caller applies the verdict to its row on the
    // GUI thread. Never throws and never answers pending.
    AnalysisVerdict analyzeFile(const QUrl& url) const;

    // Whether a file name has one of the supported audio extensions (any case).
    // Discovery and dropped files go through this one test.
    static bool hasAudioExtension(const QString& fileName);

    // The regular audio files below a folder, skipping hidden entries and
    // backup folders; empty on any failure. A link to a file is given as that
    // file when it lies inside `folder` or one of `chosenFolders`, otherwise
    // as the link itself (which analyzeFile lists as skipped).
    DiscoveredFiles findAudioFiles(const QUrl& folder, const QList<QUrl>& chosenFolders = {}) const;

private:
    Settings& settings;
};
