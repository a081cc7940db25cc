#pragma once

#include "exec/FFmpegLocator.h"

#include <QString>
#include <QTemporaryDir>

// A folder of stand-ins for ffmpeg and ffprobe, for faults the real tools do
// not make on demand (hangs, crashes, ignored signals). While a FakeTools
// object lives, the locator finds its ffmpeg first and nothing else.
class FakeTools {
public:
    FakeTools();
    ~FakeTools();

    QString path(const QString& tool) const { return folder.filePath(tool); }

    // Writes an executable /bin/sh script named `tool` with this body.
    void script(const QString& tool, const QString& body);

    // An ffmpeg whose conversion runs (those starting with -n) run `body`
    // while everything else (the scan's decodes, the list of encoders) comes
    // from the real ffmpeg, with the real ffprobe beside it.
    void conversionScript(const QString& body);

    // A conversion body that has the real ffmpeg write the output with these
    // options instead ("-ac 2", "-ac 1 -t 0.5"): a real file of the wrong
    // kind, with the whole input's PCM on standard output as usual.
    static QString realConversion(const QString& options);

    // Links `tool` to the real program of that name.
    void realTool(const QString& tool);

    // The locator then finds nothing at all (no fixed location, no PATH hit).
    static void hideEveryFFmpeg();

private:
    QTemporaryDir folder;
    QByteArray savedPath;
};
