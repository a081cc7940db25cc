#include "StatusText.h"
#include "TestMain.h"

Q_DECLARE_METATYPE(StatusFacts)

// Every wording of the status area, including the rounding edges that real
// runs cannot be steered onto.
class StatusTextTest : public QObject {
    Q_OBJECT

private slots:
    void wording_data();
    void wording();
};

namespace {

StatusFacts idle(qint64 items, qint64 visible, qint64 fake, bool fakeOnly) {
    StatusFacts facts;
    facts.itemCount = items;
    facts.visibleCount = visible;
    facts.fakeStereoCount = fake;
    facts.showsFakeStereoOnly = fakeOnly;
    return facts;
}

StatusFacts scanning(qint64 scanned, qint64 total, qint64 fake, std::optional<QString> file) {
    StatusFacts facts;
    facts.isScanning = true;
    facts.scannedCount = scanned;
    facts.totalCount = total;
    facts.fakeStereoCount = fake;
    facts.currentScanningFile = std::move(file);
    return facts;
}

StatusFacts converting(double progress, std::optional<QString> file) {
    StatusFacts facts;
    facts.isConverting = true;
    facts.convertProgress = progress;
    facts.currentConvertingFile = std::move(file);
    return facts;
}

} // namespace

void StatusTextTest::wording_data() {
    QTest::addColumn<StatusFacts>("facts");
    QTest::addColumn<QString>("expected");

    QTest::newRow("empty list") << idle(0, 0, 0, true) << "0 files scanned, 0 fake stereo";
    QTest::newRow("filtered") << idle(10, 3, 3, true) << "3 of 10 files shown, 3 fake stereo";
    QTest::newRow("filter hides nothing")
        << idle(3, 3, 3, true) << "3 files scanned, 3 fake stereo";
    QTest::newRow("all shown") << idle(10, 10, 3, false) << "10 files scanned, 3 fake stereo";
    QTest::newRow("stopped scan") << [] {
        StatusFacts facts = scanning(4, 10, 1, QStringLiteral("a.wav"));
        facts.isScanning = false;
        facts.scanStopped = true;
        return facts;
    }() << "Scan stopped: 4 of 10 files scanned, 1 fake stereo";
    QTest::newRow("large counts in plain decimal")
        << idle(12345, 12345, 1000, false) << "12345 files scanned, 1000 fake stereo";
    QTest::newRow("scanning a file")
        << scanning(4, 9, 1, QStringLiteral("kick.wav")) << "Scanning: kick.wav — 4/9";
    QTest::newRow("scanning, no file yet")
        << scanning(0, 10, 0, std::nullopt) << "Scanned 0/10 files, 0 fake stereo";
    QTest::newRow("scanning wins over converting") << [] {
        StatusFacts facts = scanning(1, 2, 0, std::nullopt);
        facts.isConverting = true;
        return facts;
    }() << "Scanned 1/2 files, 0 fake stereo";
    QTest::newRow("percent cut toward zero")
        << converting(0.996, QStringLiteral("name")) << "Converting: name — 99%";
    QTest::newRow("percent rounded without a name")
        << converting(0.996, std::nullopt) << "Converting... 100%";
    QTest::newRow("rounding down without a name")
        << converting(0.994, std::nullopt) << "Converting... 99%";
    QTest::newRow("done") << converting(1.0, QStringLiteral("a.wav")) << "Converting: a.wav — 100%";
    QTest::newRow("placeholders in a name stay text")
        << converting(0.5, QStringLiteral("100%2 mix %1.wav"))
        << "Converting: 100%2 mix %1.wav — 50%";
}

void StatusTextTest::wording() {
    QFETCH(StatusFacts, facts);
    QFETCH(QString, expected);
    QCOMPARE(statusText(facts), expected);
}

CHANFUSE_TEST_MAIN(StatusTextTest)
#include "tst_statustext.moc"
