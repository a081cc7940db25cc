#include "TestMain.h"

#include "converter/ErrorText.h"

class ErrorTextTest : public QObject {
    Q_OBJECT

private slots:
    void shortTextForTheUser_data() {
        QTest::addColumn<QString>("diagnostics");
        QTest::addColumn<QString>("expected");
        QTest::newRow("one keyword line")
            << "frame=1\n[in] Invalid data found\nConversion failed!\n"
            << "[in] Invalid data found";
        QTest::newRow("no keyword: last three") << "a\nb\nc\nd"
                                                << "b; c; d";
        QTest::newRow("every keyword line, in order") << "Cannot open\nPermission denied"
                                                      << "Cannot open; Permission denied";
        QTest::newRow("keywords in any case") << "x\nNO SUCH FILE here\ny\nan ERROR\nz"
                                              << "NO SUCH FILE here; an ERROR";
        QTest::newRow("empty") << ""
                               << "ffmpeg failed";
        QTest::newRow("blanks only") << " \n\t\r\n  \n"
                                     << "ffmpeg failed";
        QTest::newRow("carriage-return progress, trimmed")
            << "size=1kB\rsize=2kB\r  last words \t\r\n"
            << "size=1kB; size=2kB; last words";
        QTest::newRow("unicode spaces and breaks")
            << QString::fromUtf8("\u2003one\u2028two\u00A0\u2029three") << "one; two; three";
        QTest::newRow("timeout survives without keywords")
            << "Conversion timed out after 60s\nframe=9"
            << "Conversion timed out after 60s; frame=9";
        QTest::newRow("timeout dropped by a keyword line")
            << "Conversion timed out after 60s\nError while decoding"
            << "Error while decoding";
        QTest::newRow("timeout dropped by three more lines")
            << "Conversion timed out after 5s\na\nb\nc"
            << "a; b; c";
    }
    void shortTextForTheUser() {
        QFETCH(QString, diagnostics);
        QFETCH(QString, expected);
        QCOMPARE(extractError(diagnostics), expected);
    }
};

CHANFUSE_TEST_MAIN(ErrorTextTest)
#include "tst_errortext.moc"
