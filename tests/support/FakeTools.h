// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "TestFiles.h"
#include "exec/FFmpegLocator.h"

#include <QTemporaryDir>

// A folder of stand-ins for ffmpeg and ffprobe, for faults the real tools do
// not make on demand (hangs, crashes, ignored signals). While a FakeTools
// object lives, the locator finds its ffmpeg first and nothing else, and the
// tools serve the scan rather than the analyser's workers, here and in the
// programs a test starts.
class FakeTools {
public:
    FakeTools() {
        FFmpegLocator::setFixedCandidates({path(QStringLiteral("ffmpeg"))});
        qputenv("CHANFUSE_ANALYZER", "");
    }
    ~FakeTools() {
        qunsetenv("CHANFUSE_ANALYZER");
        FFmpegLocator::restoreFixedCandidates();
        qputenv("PATH", savedPath);
    }

    QString path(const QString& tool) const { return folder.filePath(tool); }

    // Writes an executable /bin/sh script named `tool` with this body.
    void script(const QString& tool, const QString& body) {
        QFile::remove(path(tool)); // never write through a link to the real tool
        TestFiles::writeFile(path(tool), "#!/bin/sh\n" + body.toUtf8() + "\n");
        QFile::setPermissions(path(tool), QFile::permissions(path(tool)) | QFile::ExeOwner);
    }

    // An ffmpeg whose conversion runs (those starting with -n) run `body`
    // while everything else (the scan's decodes, the list of encoders) comes
    // from the real ffmpeg, with the real ffprobe beside it.
    void conversionScript(const QString& body) {
        script(QStringLiteral("ffmpeg"),
               QStringLiteral(
                   "case \" $* \" in \" -n \"*) ;; *) exec /usr/bin/ffmpeg \"$@\";; esac\n") +
                   body);
        realTool(QStringLiteral("ffprobe"));
    }

    // A conversion body that has the real ffmpeg write the output with these
    // options instead ("-ac 2", "-ac 1 -t 0.5"): a real file of the wrong
    // kind, with the whole input's PCM on standard output as usual, in the
    // raw format the run asked for.
    static QString realConversion(const QString& options) {
        return QStringLiteral("for last; do :; done\n"
                              "in=; pcm=; previous=; for argument; do\n"
                              "  [ \"$previous\" = -i ] && in=$argument\n"
                              "  [ \"$previous\" = -f ] && [ -z \"$pcm\" ] && pcm=$argument\n"
                              "  previous=$argument\n"
                              "done\n"
                              "/usr/bin/ffmpeg -v error -y -i \"$in\" -map 0:a:0 -f $pcm -c:a "
                              "pcm_$pcm - %1 \"$last\"\n")
            .arg(options);
    }

    // Links `tool` to the real program of that name.
    void realTool(const QString& tool) {
        QFile::link(QStringLiteral("/usr/bin/") + tool, path(tool));
    }

    // The locator then finds nothing at all (no fixed location, no PATH hit).
    static void hideEveryFFmpeg() {
        FFmpegLocator::setFixedCandidates({});
        qputenv("PATH", "/nonexistent");
    }

private:
    QTemporaryDir folder;
    QByteArray savedPath = qgetenv("PATH");
};
