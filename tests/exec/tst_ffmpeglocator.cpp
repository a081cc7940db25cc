#include "TestMain.h"

#include "FakeTools.h"
#include "exec/FFmpegLocator.h"

#include <QFile>
#include <QTemporaryDir>

class FFmpegLocatorTest : public QObject {
    Q_OBJECT

    QTemporaryDir folder;

    QString executable(const QString& name, bool runnable = true) {
        const QString path = folder.filePath(name);
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            qFatal("cannot write %s", qPrintable(path));
        file.write("#!/bin/sh\n");
        file.close();
        file.setPermissions(runnable ? QFileDevice::ReadOwner | QFileDevice::ExeOwner
                                     : QFileDevice::ReadOwner);
        return path;
    }

private slots:
    void cleanup() { FFmpegLocator::restoreFixedCandidates(); }

    void firstExecutableCandidateWins() {
        const QString first = executable(QStringLiteral("a/ffmpeg"));
        const QString second = executable(QStringLiteral("b/ffmpeg"));
        FFmpegLocator::setFixedCandidates({first, second});
        QCOMPARE(FFmpegLocator::ffmpegPath(), first);
    }

    void nonExecutableCandidatesArePassedOver() {
        const QString plain = executable(QStringLiteral("c/ffmpeg"), false);
        const QString third = executable(QStringLiteral("d/ffmpeg"));
        FFmpegLocator::setFixedCandidates(
            {plain, folder.filePath(QStringLiteral("nothing/ffmpeg")), third});
        QCOMPARE(FFmpegLocator::ffmpegPath(), third);
    }

    void shellLookupFollowsPath() {
        if (QFile::exists(QStringLiteral("/bin/zsh")))
            QSKIP("zsh's which reads the user's own startup files here");
        const QByteArray savedPath = qgetenv("PATH");
        const QString custom = executable(QStringLiteral("custom bin/ffmpeg"));
        FFmpegLocator::setFixedCandidates({});

        qputenv("PATH", QFile::encodeName(QFileInfo(custom).path()) + ":/usr/bin:/bin");
        QCOMPARE(FFmpegLocator::ffmpegPath(), custom);
        QCOMPARE(FFmpegLocator::ffprobePath(custom),
                 folder.filePath(QStringLiteral("custom bin/ffprobe")));

        qputenv("PATH", "/nonexistent");
        QCOMPARE(FFmpegLocator::ffmpegPath(), std::nullopt);
        qputenv("PATH", savedPath);
    }

    void eachReadSearchesAfresh() {
        const QString path = executable(QStringLiteral("e/ffmpeg"));
        FFmpegLocator::setFixedCandidates({path});
        QCOMPARE(FFmpegLocator::ffmpegPath(), path);
        QFile::remove(path);
        FakeTools::hideEveryFFmpeg();
        QCOMPARE(FFmpegLocator::ffmpegPath(), std::nullopt);
    }

    void probeLivesBesideFFmpeg() {
        QCOMPARE(FFmpegLocator::ffprobePath(QStringLiteral("/opt/homebrew/bin/ffmpeg")),
                 QStringLiteral("/opt/homebrew/bin/ffprobe"));
    }
};

CHANFUSE_TEST_MAIN(FFmpegLocatorTest)
#include "tst_ffmpeglocator.moc"
