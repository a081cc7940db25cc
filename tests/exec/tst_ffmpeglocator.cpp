#include "TestMain.h"

#include "TestFiles.h"
#include "exec/FFmpegLocator.h"

#include <QFile>
#include <QTemporaryDir>

using namespace Qt::StringLiterals;

class FFmpegLocatorTest : public QObject {
    Q_OBJECT

    QTemporaryDir folder;

    QString executable(const QString& name, bool runnable = true) {
        const QString path = folder.filePath(name);
        QDir().mkpath(QFileInfo(path).path());
        TestFiles::writeFile(path, "#!/bin/sh\n");
        QFile::setPermissions(path, QFile::ReadOwner |
                                        (runnable ? QFile::ExeOwner : QFileDevice::Permissions()));
        return path;
    }

private slots:
    void cleanup() { FFmpegLocator::restoreFixedCandidates(); }

    // The first executable fixed location wins.
    void firstExecutableCandidateWins() {
        const QString plain = executable(u"a/ffmpeg"_s, false);
        const QString first = executable(u"b/ffmpeg"_s);
        const QString second = executable(u"c/ffmpeg"_s);
        FFmpegLocator::setFixedCandidates(
            {plain, folder.filePath(u"nothing/ffmpeg"_s), first, second});
        QCOMPARE(FFmpegLocator::ffmpegPath(), first);
    }

    void shellLookupFollowsPath() {
        if (QFile::exists(u"/bin/zsh"_s))
            QSKIP("zsh's which reads the user's own startup files here");
        const QByteArray savedPath = qgetenv("PATH");
        const QString custom = executable(u"custom bin/ffmpeg"_s);
        FFmpegLocator::setFixedCandidates({});

        qputenv("PATH", QFile::encodeName(QFileInfo(custom).path()) + ":/usr/bin:/bin");
        QCOMPARE(FFmpegLocator::ffmpegPath(), custom);
        QCOMPARE(FFmpegLocator::ffprobePath(custom), folder.filePath(u"custom bin/ffprobe"_s));

        qputenv("PATH", "/nonexistent");
        QCOMPARE(FFmpegLocator::ffmpegPath(), std::nullopt);
        qputenv("PATH", savedPath);
    }
};

CHANFUSE_TEST_MAIN(FFmpegLocatorTest)
#include "tst_ffmpeglocator.moc"
