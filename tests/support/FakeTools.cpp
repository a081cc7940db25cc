#include "FakeTools.h"

#include <QFile>

FakeTools::FakeTools() : savedPath(qgetenv("PATH")) {
    FFmpegLocator::setFixedCandidates({path(QStringLiteral("ffmpeg"))});
}

FakeTools::~FakeTools() {
    FFmpegLocator::restoreFixedCandidates();
    qputenv("PATH", savedPath);
}

void FakeTools::script(const QString& tool, const QString& body) {
    // Never write through a link to the real tool.
    QFile::remove(path(tool));
    QFile file(path(tool));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        qFatal("cannot write fake %s", qPrintable(tool));
    file.write("#!/bin/sh\n" + body.toUtf8() + "\n");
    file.close();
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
                        QFileDevice::ReadGroup | QFileDevice::ExeGroup | QFileDevice::ReadOther |
                        QFileDevice::ExeOther);
}

void FakeTools::conversionScript(const QString& body) {
    script(
        QStringLiteral("ffmpeg"),
        QStringLiteral("case \" $* \" in \" -n \"*) ;; *) exec /usr/bin/ffmpeg \"$@\";; esac\n") +
            body);
    realTool(QStringLiteral("ffprobe"));
}

QString FakeTools::realConversion(const QString& options) {
    return QStringLiteral("for last; do :; done\n"
                          "in=; previous=; for argument; do\n"
                          "  [ \"$previous\" = -i ] && in=$argument; previous=$argument\n"
                          "done\n"
                          "/usr/bin/ffmpeg -v error -y -i \"$in\" -map 0:a:0 -f s16le -acodec "
                          "pcm_s16le -ac 2 -ar 44100 - %1 \"$last\"\n")
        .arg(options);
}

void FakeTools::realTool(const QString& tool) {
    QFile::link(QStringLiteral("/usr/bin/") + tool, path(tool));
}

void FakeTools::hideEveryFFmpeg() {
    FFmpegLocator::setFixedCandidates({});
    qputenv("PATH", "/nonexistent");
}
