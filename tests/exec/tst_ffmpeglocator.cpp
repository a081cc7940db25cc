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

    // The first executable fixed location wins.
    void firstExecutableCandidateWins() {
        const QString plain = executable(QStringLiteral("a/ffmpeg"), false);
        const QString first = executable(QStringLiteral("b/ffmpeg"));
        const QString second = executable(QStringLiteral("c/ffmpeg"));
        FFmpegLocator::setFixedCandidates(
            {plain, folder.filePath(QStringLiteral("nothing/ffmpeg")), first, second});
        QCOMPARE(FFmpegLocator::ffmpegPath(), first);
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
};

CHANFUSE_TEST_MAIN(FFmpegLocatorTest)
#include "tst_ffmpeglocator.moc"
