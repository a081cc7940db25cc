#include "TestMain.h"

#include "TestAudio.h"
#include "ViewModelLog.h"
#include "model/Settings.h"
#include "viewmodel/ContentViewModel.h"

#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

using namespace ViewModelLog;

class RefusedConversionTest : public QObject {
    Q_OBJECT

private slots:
    void init() {
        QSettings store(QStringLiteral("Chanfuse"), QStringLiteral("Chanfuse"));
        store.clear();
    }

    void stereoBehindAMonoIntroEndsRealStereoAndUntouched() {
        QTemporaryDir folder;
        const QString path = folder.filePath(QStringLiteral("intro.wav"));
        const QString intro = TestAudio::tone(330, 0.5);
        TestAudio::generate(
            path,
            {QStringLiteral("if(lt(t\\,7)\\,%1\\,%2)").arg(intro, TestAudio::tone(440, 0.5)),
             QStringLiteral("if(lt(t\\,7)\\,%1\\,%2)").arg(intro, TestAudio::tone(550, 0.5))},
            9);
        QFile original(path);
        QVERIFY(original.open(QIODevice::ReadOnly));
        const QByteArray bytes = original.readAll();

        ContentViewModel model;
        model.startScanFolders({QUrl::fromLocalFile(folder.path())});
        QVERIFY(waitForPrefix(model, QStringLiteral("Scan complete: ")));
        QCOMPARE(model.items().size(), 1);
        const FileItemPtr item = model.items().first();
        QCOMPARE(item->detectionStatus, DetectionStatus::fakeStereo);
        QVERIFY(item->isSelected);

        model.convertItem(item);
        const QString refusal = QStringLiteral("Not converted: channels differ at 0:07");
        QVERIFY(waitFor(model, QStringLiteral("  -> NOT CONVERTED: ") + refusal));
        QCOMPARE(item->detectionStatus, DetectionStatus::realStereo);
        QVERIFY(!item->isSelected);
        QCOMPARE(item->errorMessage, refusal);
        QCOMPARE(model.fakeStereoCount(), 0);

        original.close();
        QVERIFY(original.open(QIODevice::ReadOnly));
        QCOMPARE(original.readAll(), bytes);
        QCOMPARE(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden),
                 QStringList{"intro.wav"});
    }
};

CHANFUSE_TEST_MAIN(RefusedConversionTest)
#include "tst_refusedconversion.moc"
