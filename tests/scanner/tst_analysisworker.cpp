#include "TestMain.h"

#include "TestAudio.h"
#include "scanner/AnalysisWorker.h"
#include "scanner/PcmDecode.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <ReadOnlySandbox.h>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/wait.h>
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

// The first audio stream's entries as ffprobe gives them.
QJsonObject firstAudioStream(const QByteArray& json) {
    for (const QJsonValue& stream :
         QJsonDocument::fromJson(json).object().value(u"streams").toArray())
        if (stream.toObject().value(u"codec_type").toString() == u"audio")
            return stream.toObject();
    return {};
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

        const QJsonObject ours = firstAudioStream(first.reply.probe);
        const QJsonObject theirs = firstAudioStream(
            TestAudio::ffprobe({u"-show_entries"_s,
                                u"stream=codec_type,codec_name,sample_fmt,sample_rate,channels,"
                                "bits_per_sample,bits_per_raw_sample,bit_rate,duration:"
                                "stream_tags:format_tags"_s,
                                u"-of"_s, u"json"_s, file}));
        QVERIFY(!theirs.isEmpty());
        for (auto entry = theirs.begin(); entry != theirs.end(); ++entry)
            QCOMPARE(ours.value(entry.key()), entry.value());
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

    // A worker that stalls past the limit, or dies mid-request, is replaced:
    // that file fails with a reason naming the analyser and the next is served.
    void replacesAStalledOrDeadWorker_data() {
        QTest::addColumn<int>("signal");
        QTest::addColumn<Status>("status");
        QTest::addColumn<QString>("reason");
        QTest::newRow("stalled") << SIGSTOP << Status::timedOut << u"Operation timed out"_s;
        QTest::newRow("crashed") << SIGSEGV << Status::workerLost
                                 << u"chanfuse-analyzer ended during the analysis (status 11)"_s;
    }
    void replacesAStalledOrDeadWorker() {
        QFETCH(int, signal);
        QFETCH(Status, status);
        QFETCH(QString, reason);
        QTemporaryDir folder;
        const QString file = folder.filePath(u"long.wav"_s);
        TestAudio::realStereo(file, 30);
        AnalysisWorker worker(analyzer);
        const pid_t first = [&] {
            ask(worker, file, false, 1);
            return worker.processId();
        }();
        const Decoded failed =
            ask(worker, file, false, std::nullopt, 2, [&] { ::kill(first, signal); });
        QCOMPARE(failed.reply.status, status);
        QCOMPARE(failed.reply.reason, reason);
        QCOMPARE(worker.processId(), 0);
        QTRY_VERIFY_WITH_TIMEOUT(!processExists(first), 10000);

        const Decoded next = ask(worker, file, false, 1);
        QCOMPARE(next.reply.status, Status::answered);
        QCOMPARE(next.pcm.size(), 44100 * 2 * 8);
        QVERIFY(worker.processId() != first);
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
    }
};

CHANFUSE_TEST_MAIN(TestAnalysisWorker)
#include "tst_analysisworker.moc"
