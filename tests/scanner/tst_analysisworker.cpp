// SPDX-License-Identifier: GPL-3.0-or-later

#include "TestMain.h"

#include "FakeTools.h"
#include "Processes.h"
#include "TestAudio.h"
#include "TestFiles.h"
#include "model/Settings.h"
#include "scanner/AnalysisEngine.h"
#include "scanner/AnalysisWorker.h"
#include "scanner/AudioScanner.h"
#include "scanner/PcmDecode.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <ReadOnlySandbox.h>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace Qt::StringLiterals;

using TestAudio::tone;
using Status = AnalysisWorker::Reply::Status;

namespace {

const QString analyzer = QStringLiteral(CHANFUSE_ANALYZER);

struct Decoded {
    AnalysisWorker::Reply reply;
    QByteArray pcm;
};

Decoded ask(AnalysisWorker& worker, const QString& file, bool probe, std::optional<qint64> seconds,
            double limit = 30, const std::function<void()>& onFirstChunk = {}) {
    Decoded result;
    result.reply = worker.run({file, probe, true, seconds, limit}, [&](QByteArrayView chunk) {
        if (result.pcm.isEmpty() && onFirstChunk)
            onFirstChunk();
        result.pcm += chunk;
        return true;
    });
    return result;
}

// Every entry ffprobe gives is in the worker's probe, with the same value:
// each stream's (an object compared entry by entry) and the file's.
void compareProbes(const QJsonObject& ours, const QJsonObject& theirs) {
    for (auto entry = theirs.begin(); entry != theirs.end(); ++entry) {
        if (entry.value().isArray()) {
            const QJsonArray mine = ours.value(entry.key()).toArray();
            QCOMPARE(mine.size(), entry.value().toArray().size());
            for (qsizetype i = 0; i < mine.size(); ++i)
                compareProbes(mine[i].toObject(), entry.value().toArray()[i].toObject());
        } else if (entry.value().isObject()) {
            compareProbes(ours.value(entry.key()).toObject(), entry.value().toObject());
        } else {
            QCOMPARE(ours.value(entry.key()), entry.value());
        }
    }
}

} // namespace

class TestAnalysisWorker : public QObject {
    Q_OBJECT

private slots:
    // The worker's decode is the ffmpeg executable's, byte for byte, for the
    // first seconds and for a whole file, and its probe says what ffprobe says.
    void answersAsTheTools_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QStringList>("options");
        QTest::newRow("WAV 16-bit") << u"a.wav"_s << QStringList{};
        QTest::newRow("WAV 24-bit") << u"a.wav"_s << u"-c:a pcm_s24le"_s.split(u' ');
        QTest::newRow("WAV float") << u"a.wav"_s << u"-c:a pcm_f32le"_s.split(u' ');
        QTest::newRow("FLAC 24-bit") << u"a.flac"_s << u"-sample_fmt s32"_s.split(u' ');
        const QString cover = u"-f lavfi -i color=s=16x16:d=1 -map 0:a -map 1:v -frames:v 1 "
                              "-disposition:v attached_pic -c:v "_s;
        QTest::newRow("FLAC with cover") << u"a.flac"_s << (cover + u"png"_s).split(u' ');
        QTest::newRow("MP3 with cover") << u"a.mp3"_s << (cover + u"mjpeg"_s).split(u' ');
        QTest::newRow("ALAC") << u"a.m4a"_s << u"-c:a alac"_s.split(u' ');
        QTest::newRow("MP3") << u"a.mp3"_s << QStringList{};
        QTest::newRow("AAC") << u"a.m4a"_s << u"-c:a aac"_s.split(u' ');
        QTest::newRow("Vorbis") << u"a.ogg"_s << u"-c:a libvorbis"_s.split(u' ');
        QTest::newRow("Opus") << u"a.ogg"_s << u"-c:a libopus"_s.split(u' ');
        QTest::newRow("WMA") << u"a.wma"_s << QStringList{};
        QTest::newRow("48 kHz FLAC") << u"a.flac"_s << u"-ar 48000"_s.split(u' ');
        QTest::newRow("8 kHz WAV") << u"a.wav"_s << u"-ar 8000"_s.split(u' ');
    }
    void answersAsTheTools() {
        QFETCH(QString, name);
        QFETCH(QStringList, options);
        QTemporaryDir folder;
        const QString file = folder.filePath(name);
        TestAudio::generate(file, {tone(440, 0.5), tone(660, 0.4)}, 4.5,
                            options + u"-metadata title=Ünïcode\"quoted\""_s.split(u' '));

        AnalysisWorker worker(analyzer);
        const Decoded first = ask(worker, file, true, 2);
        QCOMPARE(first.reply.status, Status::answered);
        QCOMPARE(first.pcm, TestAudio::ffmpeg(pcmDecodeArguments(file, 2)));
        const Decoded whole = ask(worker, file, false, std::nullopt);
        QCOMPARE(whole.reply.status, Status::answered);
        QCOMPARE(whole.pcm, TestAudio::ffmpeg(pcmDecodeArguments(file, std::nullopt)));

        // What the scan and the converter ask of ffprobe.
        const QByteArray theirs = TestAudio::ffprobe(
            {u"-show_entries"_s,
             u"stream=index,codec_type,codec_name,sample_fmt,bits_per_sample,bits_per_raw_sample,"
             "bit_rate,sample_rate,channels,duration:stream_disposition=attached_pic:stream_tags:"
             "format=bit_rate,duration,size:format_tags"_s,
             u"-of"_s, u"json"_s, file});
        compareProbes(QJsonDocument::fromJson(first.reply.probe).object(),
                      QJsonDocument::fromJson(theirs).object());
    }

    // A file the analyser cannot read costs that file alone.
    void refusesWhatItCannotRead() {
        QTemporaryDir folder;
        const QString good = folder.filePath(u"good.flac"_s);
        TestAudio::fakeStereo(good, 1);
        AnalysisWorker worker(analyzer);
        const Decoded missing = ask(worker, folder.filePath(u"missing.flac"_s), true, 5);
        QCOMPARE(missing.reply.status, Status::refused);
        QVERIFY(!missing.reply.reason.isEmpty());
        const pid_t serving = worker.processId();
        QCOMPARE(ask(worker, good, false, 5).reply.status, Status::answered);
        QCOMPARE(worker.processId(), serving);
    }

    // A decode whose rest is not wanted is stopped, whether the stop reaches
    // the analyser during the decode or after its answer, and the same
    // process serves the next request in full.
    void anEarlyStopKeepsTheWorker_data() {
        QTest::addColumn<double>("seconds");
        QTest::newRow("during the decode") << 30.0;
        QTest::newRow("after the answer") << 0.05;
    }
    void anEarlyStopKeepsTheWorker() {
        QFETCH(double, seconds);
        QTemporaryDir folder;
        const QString file = folder.filePath(u"take.wav"_s);
        TestAudio::realStereo(file, seconds);
        AnalysisWorker worker(analyzer);
        int chunks = 0;
        const auto stopped = worker.run({file, false, true, std::nullopt, 30}, [&](QByteArrayView) {
            ++chunks;
            return false;
        });
        QCOMPARE(stopped.status, Status::answered);
        QCOMPARE(chunks, 1);
        const pid_t serving = worker.processId();
        const Decoded next = ask(worker, file, false, std::nullopt);
        QCOMPARE(next.reply.status, Status::answered);
        QCOMPARE(next.pcm, TestAudio::ffmpeg(pcmDecodeArguments(file, std::nullopt)));
        QCOMPARE(worker.processId(), serving);
    }

    // A worker that stalls past the limit (stopped here) is killed at the
    // limit, and a fresh one serves the next file.
    void replacesAStalledWorker() {
        QTemporaryDir folder;
        const QString file = folder.filePath(u"long.wav"_s);
        TestAudio::realStereo(file, 30);
        AnalysisWorker worker(analyzer);
        const pid_t first = [&] {
            ask(worker, file, false, 1);
            return worker.processId();
        }();
        const Decoded failed =
            ask(worker, file, false, std::nullopt, 2, [&] { ::kill(first, SIGSTOP); });
        QCOMPARE(failed.reply.status, Status::timedOut);
        QCOMPARE(failed.reply.reason, u"Operation timed out"_s);
        QCOMPARE(worker.processId(), 0);
        QTRY_VERIFY_WITH_TIMEOUT(!TestSupport::exists(first), 10000);

        const Decoded next = ask(worker, file, false, 1);
        QCOMPARE(next.reply.status, Status::answered);
        QCOMPARE(next.pcm.size(), 44100 * 2 * 8);
        QVERIFY(worker.processId() != first);
    }

    // An analyser that dies mid-request (a crash in a decoder) or breaks the
    // protocol costs that file alone: it shows an error naming the analyser,
    // the process is killed, and a fresh worker serves the next file.
    void aFaultyWorkerCostsOneFile_data() {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("reason");
        QTest::newRow("crash") << u"kill -SEGV $$"_s
                               << u"chanfuse-analyzer ended during the analysis (status 11)"_s;
        QTest::newRow("malformed answer") << u"echo nonsense; exec cat > /dev/null"_s
                                          << u"chanfuse-analyzer broke its protocol"_s;
        QTest::newRow("oversized answer") << u"echo 'pcm 99999999999'; exec cat > /dev/null"_s
                                          << u"chanfuse-analyzer broke its protocol"_s;
    }
    void aFaultyWorkerCostsOneFile() {
        QFETCH(QString, fault);
        QFETCH(QString, reason);
        QTemporaryDir folder;
        const QString file = folder.filePath(u"fake.flac"_s);
        TestAudio::fakeStereo(file, 1);
        FakeTools tools;
        tools.realTool(u"ffmpeg"_s);
        tools.script(u"chanfuse-analyzer"_s,
                     u"[ \"$1\" ] && exec %1 \"$@\"\n"
                     "[ -e \"$0.fault\" ] && rm \"$0.fault\" && read request && { %2; }\n"
                     "exec %1"_s.arg(analyzer, fault));
        qputenv("CHANFUSE_ANALYZER", QFile::encodeName(tools.path(u"chanfuse-analyzer"_s)));
        QVERIFY(AnalysisEngine::workerProgram(tools.path(u"ffmpeg"_s)));
        TestFiles::writeFile(tools.path(u"chanfuse-analyzer.fault"_s), {});

        const auto analyse = [&] {
            const auto item = std::make_shared<FileItem>(QUrl::fromLocalFile(file));
            AudioScanner(Settings::shared()).analyzeFile(item->url).applyTo(*item);
            return item;
        };
        const FileItemPtr failed = analyse();
        QCOMPARE(failed->detectionStatus, DetectionStatus::error);
        QCOMPARE(failed->errorMessage, reason);
        QTRY_VERIFY_WITH_TIMEOUT(TestSupport::liveChildren().isEmpty(), 10000);
        QCOMPARE(analyse()->detectionStatus, DetectionStatus::fakeStereo);
    }

    // The workers serve only an ffmpeg built on their own libraries, and only
    // when the analyser can confine itself; else the tools serve. The log
    // line says which.
    void engineFollowsTheFFmpeg_data() {
        QTest::addColumn<QString>("ffmpeg");   // a stand-in's script; empty: the real one
        QTest::addColumn<QString>("analyser"); // likewise; "-": none
        QTest::addColumn<bool>("workers");
        QTest::newRow("same libraries") << u""_s << u""_s << true;
        QTest::newRow("other libraries")
            << u"printf 'ffmpeg version 6.1\\nlibavformat 60. 16.100 / 60. 16.100\\n"
               "libavcodec 60. 31.102 / 60. 31.102\\nlibswresample 4. 12.100 / 4. 12.100\\n"
               "libavutil 58. 29.100 / 58. 29.100\\n'"_s
            << u""_s << false;
        QTest::newRow("analyser cannot confine itself")
            << u""_s << u"%1 \"$@\"; exit 1"_s.arg(analyzer) << false;
        QTest::newRow("no analyser") << u""_s << u"-"_s << false;
    }
    void engineFollowsTheFFmpeg() {
        QFETCH(QString, ffmpeg);
        QFETCH(QString, analyser);
        QFETCH(bool, workers);
        FakeTools tools;
        if (ffmpeg.isEmpty())
            tools.realTool(u"ffmpeg"_s);
        else
            tools.script(u"ffmpeg"_s, ffmpeg);
        QString program = analyzer;
        if (!analyser.isEmpty()) {
            program = tools.path(u"chanfuse-analyzer"_s);
            if (analyser != u"-")
                tools.script(u"chanfuse-analyzer"_s, analyser);
        }
        qputenv("CHANFUSE_ANALYZER", QFile::encodeName(program));
        const QString path = tools.path(u"ffmpeg"_s);
        QCOMPARE(AnalysisEngine::workerProgram(path).has_value(), workers);
        const QString line = AnalysisEngine::description(path, 3);
        const QRegularExpression expected(
            workers ? u"^Analysis: built-in FFmpeg libraries \\d+\\.\\d+, 3 workers$"_s
                    : u"^Analysis: ffprobe and ffmpeg at "_s +
                          QRegularExpression::escape(QFileInfo(path).path()) + u'$');
        QVERIFY2(expected.match(line).hasMatch(), qPrintable(line));
    }

    // Whatever a hostile file makes of the analyser, it cannot write, create,
    // run a program or open a socket.
    void sandboxRefusesWrites() {
        QTemporaryDir folder;
        const QByteArray created = QFile::encodeName(folder.filePath(u"created"_s));
        const pid_t child = ::fork();
        if (child == 0) {
            if (!enterReadOnlySandbox().empty())
                ::_exit(1);
            const bool refused = ::open(created.constData(), O_WRONLY | O_CREAT, 0600) < 0 &&
                                 ::socket(AF_INET, SOCK_STREAM, 0) < 0 &&
                                 ::execl("/bin/true", "true", nullptr) < 0 &&
                                 ::open("/etc/hostname", O_RDONLY) >= 0;
            ::_exit(refused ? 0 : 2);
        }
        int status = 0;
        QCOMPARE(::waitpid(child, &status, 0), child);
        QVERIFY(WIFEXITED(status));
        QCOMPARE(WEXITSTATUS(status), 0);
        QVERIFY(!QFile::exists(folder.filePath(u"created"_s)));

        // And the analyser confines itself before it reads its first request.
        const QString file = folder.filePath(u"a.flac"_s);
        TestAudio::fakeStereo(file, 1);
        AnalysisWorker worker(analyzer);
        QCOMPARE(ask(worker, file, true, 1).reply.status, Status::answered);
        QFile worksUnder(u"/proc/%1/status"_s.arg(worker.processId()));
        QVERIFY(worksUnder.open(QIODevice::ReadOnly));
        QVERIFY(worksUnder.readAll().contains("\nNoNewPrivs:\t1\n"));
    }
};

CHANFUSE_TEST_MAIN(TestAnalysisWorker)
#include "tst_analysisworker.moc"
