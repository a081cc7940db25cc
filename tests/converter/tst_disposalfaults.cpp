#include "ConverterFixture.h"
#include "TestFiles.h"
#include "TestMain.h"

#include <QProcess>

using namespace TestFiles;

// A commit killed at every point of its way (a crash, an out-of-memory kill,
// a power cut): the original's path always holds a whole file, and whatever
// else is left says by its name what it holds. Each kill is a child process.
class DisposalFaultsTest : public QObject {
    Q_OBJECT

    ConverterFixture fixture;

private slots:
    void killedAtAnyPointTheOriginalsPathHoldsAWholeFile_data() {
        QTest::addColumn<ConvertBehavior>("behavior");
        for (ConvertBehavior behavior : allCases<ConvertBehavior>())
            QTest::addRow("%s", qPrintable(rawValue(behavior))) << behavior;
    }
    void killedAtAnyPointTheOriginalsPathHoldsAWholeFile() {
        QFETCH(ConvertBehavior, behavior);
        for (int killAfter = 1;; ++killAfter) {
            fixture.reset();
            const QString original = fixture.pathOf(QStringLiteral("song.wav"));
            const QString output = fixture.pathOf(QStringLiteral("sonfold_out_1.wav"));
            writeFile(original, "stereo");
            writeFile(output, "mono");

            QProcess helper;
            helper.start(QStringLiteral(COMMIT_UNTIL_KILLED),
                         {original, output, rawValue(behavior), QString::number(killAfter)});
            QVERIFY(helper.waitForFinished(30000));

            const QMap<QString, QByteArray> left = fixture.left();
            const QByteArray atPath = left.value(QStringLiteral("song.wav"));
            QVERIFY2(atPath == "stereo" || atPath == "mono",
                     qPrintable(QStringLiteral("after change %1: %2").arg(killAfter).arg(atPath)));
            for (auto entry = left.cbegin(); entry != left.cend(); ++entry) {
                const QString name = entry.key();
                if (name.startsWith(QStringLiteral("sonfold_out_")))
                    QCOMPARE(entry.value(), QByteArray("mono"));
                else if (name.startsWith(QStringLiteral(".sonfold_orig_")) ||
                         name.startsWith(QStringLiteral("_backup/")) ||
                         name.startsWith(QStringLiteral("trash/")))
                    QCOMPARE(entry.value(), QByteArray("stereo"));
                else
                    QVERIFY2(name == QStringLiteral("song.wav") ||
                                 name == QStringLiteral("_backup"),
                             qPrintable(name));
            }
            // The original's bytes are never gone unless overwriting them was the point.
            QVERIFY(left.values().contains("stereo") || behavior == ConvertBehavior::overwrite);
            if (helper.exitStatus() == QProcess::NormalExit) {
                // Logged as a conversion without a log callback logs.
                QCOMPARE(helper.readAllStandardOutput(), QByteArray("[DEBUG] committed\n"));
                QCOMPARE(atPath, QByteArray("mono"));
                QVERIFY2(killAfter > 1, "the commit changed nothing");
                break;
            }
        }
    }
};

CHANFUSE_TEST_MAIN(DisposalFaultsTest)
#include "tst_disposalfaults.moc"
