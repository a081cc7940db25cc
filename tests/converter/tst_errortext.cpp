#include "TestMain.h"

#include "converter/FFmpegRun.h"

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
        QTest::newRow("progress lines, trimmed") << "size=1kB\rframe=2\r  last words \t\r\n"
                                                 << "last words";
        QTest::newRow("unicode spaces and breaks")
            << QString::fromUtf8("\u2003one\u2028two\u00A0\u2029three") << "one; two; three";
        QTest::newRow("descriptions and tags are not the failure")
            << "Input #0, flac, from 'in.flac':\n  Metadata:\n    title           : Error Song\n"
               "  Duration: 00:00:01.00, bitrate: 1 kb/s\n  Stream #0:0: Audio: flac\n"
               "Output #0, flac, to 'out.flac':\nStream mapping:\nav_interleaved_write_frame(): "
               "No space left on device\nError writing trailer: No space left on device"
            << "Error writing trailer: No space left on device";
        QTest::newRow("the last three distinct keyword lines")
            << "bad 1 error\nbad 2 error\nbad 2 error\nbad 3 error\nbad 4 error\nbad 4 error"
            << "bad 2 error; bad 3 error; bad 4 error";
        QTest::newRow("at most 300 characters")
            << QStringLiteral("error ") + QString(400, u'x')
            << QStringLiteral("error ") + QString(293, u'x') + QChar(0x2026);
    }
    void shortTextForTheUser() {
        QFETCH(QString, diagnostics);
        QFETCH(QString, expected);
        QCOMPARE(extractError(diagnostics), expected);
    }
};

CHANFUSE_TEST_MAIN(ErrorTextTest)
#include "tst_errortext.moc"
