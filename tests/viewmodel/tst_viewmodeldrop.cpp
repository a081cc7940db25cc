#include "TestMain.h"

#include "TestAudio.h"
#include "ViewModelLog.h"
#include "model/Settings.h"
#include "viewmodel/ContentViewModel.h"
#include "viewmodel/DesktopServices.h"

#include <QDir>
#include <QTemporaryDir>

using namespace ViewModelLog;

namespace {

// Answers the folder dialog as told and remembers what was asked of it.
class FakeDesktop : public DesktopServices {
public:
    std::optional<QUrl> answer;
    QStringList titles;
    QStringList startFolders;
    QList<QUrl> revealed;

    std::optional<QUrl> chooseFolder(const QString& title, const QString& startFolder) override {
        titles.append(title);
        startFolders.append(startFolder);
        return answer;
    }
    void revealFile(const QUrl& file) override { revealed.append(file); }
};

QStringList fileNames(const QList<FileItemPtr>& items) {
    QStringList names;
    for (const FileItemPtr& item : items)
        names.append(item->fileName);
    return names;
}

} // namespace

class ViewModelDropTest : public QObject {
    Q_OBJECT

    QTemporaryDir root;
    QString alpha; // fake stereo and mono
    QString beta;  // real stereo
    QString loose; // three files dropped one by one

    QUrl url(const QString& path) const { return QUrl::fromLocalFile(path); }

private slots:
    void initTestCase() {
        QVERIFY(root.isValid());
        alpha = root.filePath(QStringLiteral("Alpha"));
        beta = root.filePath(QStringLiteral("Beta"));
        loose = root.filePath(QStringLiteral("Loose"));
        for (const QString& folder : {alpha, beta, loose})
            QDir().mkpath(folder);
        TestAudio::fakeStereo(alpha + QStringLiteral("/twins.wav"), 0.5);
        TestAudio::mono(alpha + QStringLiteral("/single.wav"), 0.5);
        TestAudio::realStereo(beta + QStringLiteral("/wide.flac"), 0.5);
        TestAudio::fakeStereo(loose + QStringLiteral("/one.wav"), 0.5);
        TestAudio::realStereo(loose + QStringLiteral("/two.flac"), 0.5);
        TestAudio::mono(loose + QStringLiteral("/three.wav"), 0.5);
        TestAudio::fakeStereo(loose + QStringLiteral("/clip.wav"), 0.5);
        QVERIFY(QFile::rename(loose + QStringLiteral("/clip.wav"),
                              loose + QStringLiteral("/clip.mov")));
    }

    void init() {
        Settings::shared().setParallelScans(2);
        Settings::shared().setAutoSelectAll(true);
    }

    void droppingTwoFoldersScansBoth() {
        ContentViewModel model;
        model.handleDrop({url(alpha), url(beta)});
        QVERIFY(waitForPrefix(model, QStringLiteral("Scan complete: ")));
        const QStringList log = messages(model);
        QCOMPARE(log.mid(0, 3),
                 (QStringList{QStringLiteral("Drop: 2 item(s)"),
                              QStringLiteral("Drop: scanning 2 folder(s): Alpha, Beta"),
                              QStringLiteral("Starting scan of 2 folder(s)")}));
        QVERIFY(log.contains(QStringLiteral("Scan complete: 3 files processed")));
        QCOMPARE(model.scannedFolders(),
                 (QStringList{QStringLiteral("Alpha"), QStringLiteral("Beta")}));
        QCOMPARE(model.selectedFolder(), std::optional(url(alpha)));
        QCOMPARE(model.items().size(), 3);
    }

    void filesDroppedWithAFolderAreIgnored() {
        ContentViewModel model;
        model.handleDrop({url(loose + QStringLiteral("/one.wav")), url(beta),
                          url(loose + QStringLiteral("/two.flac")),
                          url(loose + QStringLiteral("/three.wav"))});
        QVERIFY(waitForPrefix(model, QStringLiteral("Scan complete: ")));
        QCOMPARE(messages(model).mid(0, 2),
                 (QStringList{QStringLiteral("Drop: 4 item(s)"),
                              QStringLiteral("Drop: scanning 1 folder(s): Beta")}));
        QCOMPARE(fileNames(model.items()), QStringList{QStringLiteral("wide")});
        QCOMPARE(model.scannedFolders(), QStringList{QStringLiteral("Beta")});
    }

    // With progress like a scan; a file without an audio extension (a video
    // with PCM audio here) is left out, as a folder scan would leave it.
    void droppedFilesReplaceTheListAndAreAnalysedOneByOne() {
        ContentViewModel model;
        model.handleDrop({url(alpha + QStringLiteral("/twins.wav"))});
        QVERIFY(waitForPrefix(model, QStringLiteral("  -> ")));
        QCOMPARE(model.items().size(), 1);

        // The moment the new list is published, all three are still pending.
        QStringList firstPublished;
        connect(&model, &ContentViewModel::changed, &model, [&] {
            if (firstPublished.isEmpty() && model.items().size() == 3) {
                for (const FileItemPtr& item : model.items())
                    firstPublished.append(rawValue(item->detectionStatus));
            }
        });
        bool everScanning = false;
        connect(&model, &ContentViewModel::changed, &model,
                [&] { everScanning = everScanning || model.isScanning(); });
        const qsizetype logBefore = model.debugLog().size();
        model.handleDrop(
            {url(loose + QStringLiteral("/one.wav")), url(loose + QStringLiteral("/clip.mov")),
             url(loose + QStringLiteral("/two.flac")), url(loose + QStringLiteral("/three.wav"))});
        QTRY_COMPARE_WITH_TIMEOUT(messagesStartingWith(model, QStringLiteral("  -> ")).size(), 4,
                                  60000);

        QCOMPARE(firstPublished, QStringList(3, QStringLiteral("Pending")));
        QCOMPARE(
            fileNames(model.items()),
            (QStringList{QStringLiteral("one"), QStringLiteral("two"), QStringLiteral("three")}));
        QCOMPARE(model.selectedFolder(), std::optional(url(loose)));
        QCOMPARE(messages(model).mid(logBefore),
                 (QStringList{
                     QStringLiteral("Drop: 4 item(s)"),
                     QStringLiteral("Drop: skipped 1 file(s): not a supported audio file type"),
                     QStringLiteral("Drop: 3 file(s)"), QStringLiteral("Analyzing: one"),
                     QStringLiteral("  -> \u26A0 Fake Stereo"), QStringLiteral("Analyzing: two"),
                     QStringLiteral("  -> \u2713 Real Stereo"), QStringLiteral("Analyzing: three"),
                     QStringLiteral("  -> \u2713 Mono")}));
        QVERIFY(everScanning);
        QTRY_VERIFY(!model.isScanning());
        QCOMPARE(model.scannedCount(), 3);
        QCOMPARE(model.totalCount(), 3);
        QVERIFY(model.scannedFolders().isEmpty());
        // Only the analysis's own autoSelectAll choice applies; no celebration.
        QVERIFY(model.items().first()->isSelected);
        QVERIFY(!model.showConfetti());
    }

    void aDropWithNothingUsable() {
        ContentViewModel model;
        model.handleDrop({QUrl(QStringLiteral("https://example.com/song.wav"))});
        QVERIFY(waitFor(model, QStringLiteral("Drop: no valid URLs")));
        QCOMPARE(messages(model), (QStringList{QStringLiteral("Drop: 1 item(s)"),
                                               QStringLiteral("Drop: no valid URLs")}));
        model.handleDrop({});
        QTRY_COMPARE(messagesStartingWith(model, QStringLiteral("Drop: no valid URLs")).size(), 2);
        QCOMPARE(messages(model).at(2), QStringLiteral("Drop: 0 item(s)"));
        QVERIFY(model.items().isEmpty());
        QCOMPARE(model.selectedFolder(), std::nullopt);

        model.handleDrop({url(loose + QStringLiteral("/clip.mov"))});
        QVERIFY(waitForPrefix(model, QStringLiteral("Drop: skipped ")));
        QCOMPARE(messages(model).mid(4),
                 (QStringList{QStringLiteral("Drop: 1 item(s)"),
                              QStringLiteral("Drop: skipped 1 file(s): not "
                                             "a supported audio file type")}));
        QVERIFY(model.items().isEmpty());
    }

    void pickingAFolderScansIt() {
        FakeDesktop desktop;
        ContentViewModel model(&desktop);
        model.pickFolder();
        QCOMPARE(desktop.titles, QStringList{QStringLiteral("Select Audio Folder")});
        QCOMPARE(desktop.startFolders, QStringList{QDir::homePath()});
        QVERIFY(model.debugLog().isEmpty());
        QCOMPARE(model.selectedFolder(), std::nullopt);
        QVERIFY(!model.isScanning());

        desktop.answer = url(beta);
        model.pickFolder();
        QCOMPARE(messages(model).mid(0, 2),
                 (QStringList{QStringLiteral("Picked folder: ") + beta,
                              QStringLiteral("Starting scan of 1 folder(s)")}));
        QCOMPARE(model.selectedFolder(), std::optional(url(beta)));
        QVERIFY(model.isScanning());
        QVERIFY(waitForPrefix(model, QStringLiteral("Scan complete: ")));

        model.revealInFinder(model.items().first());
        QCOMPARE(desktop.revealed, QList<QUrl>{url(beta + QStringLiteral("/wide.flac"))});

        // The dialog opens where the user last was, even after "Clear".
        model.clearResults();
        desktop.answer.reset();
        model.pickFolder();
        QCOMPARE(desktop.startFolders.last(), beta);
    }
};

CHANFUSE_TEST_MAIN(ViewModelDropTest)
#include "tst_viewmodeldrop.moc"
