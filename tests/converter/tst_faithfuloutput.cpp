#include "ConverterFixture.h"
#include "TestAudio.h"
#include "TestMain.h"

#include "converter/FFmpegArguments.h"
#include "converter/FFmpegRun.h"
#include "exec/FFmpegLocator.h"

#include <QFileInfo>

using namespace Qt::StringLiterals;

namespace {

const QString title = u"Chanfuse Test"_s;

// The bytes of a file's first cover picture, as they are stored.
QByteArray coverOf(const QString& path) {
    return TestAudio::ffmpeg(QStringList{u"-i"_s, path} +
                             u"-map 0:v:0 -c copy -f image2pipe -"_s.split(u' '));
}

} // namespace

// What ffmpeg is asked for and what it gives back: real conversions of one
// fake-stereo file per format, where the mono file must be the original minus
// one channel, in its codec and sample format, with its tags and cover, at
// the bits per channel it had, and smaller; and the short text a failed run
// shows the user.
class FaithfulOutputTest : public QObject {
    Q_OBJECT

    ConverterFixture fixture;
    QString ffmpeg;

    // Three seconds on two identical channels, of pink noise (lossy encoders
    // spend their full bit rate on it) unless `tonal`: AAC's joint stereo
    // decodes noise to channels that differ.
    QString generate(const QString& name, const QStringList& codecOptions, bool withCover,
                     bool tonal = false) {
        const QString path = fixture.pathOf(name);
        QStringList arguments{u"-f"_s, u"lavfi"_s, u"-i"_s,
                              tonal ? u"sine=f=440:d=3:r=44100"_s
                                    : u"anoisesrc=d=3:c=pink:a=0.3:r=44100"_s};
        if (withCover) {
            const QString cover = fixture.pathOf(u"cover.jpg"_s);
            TestAudio::ffmpeg(u"-f lavfi -i testsrc=s=96x96 -frames:v 1"_s.split(u' ') +
                              QStringList{cover});
            arguments << u"-i"_s << cover
                      << u"-map 0 -map 1 -c:v copy -disposition:v:0 attached_pic"_s.split(u' ');
        }
        arguments << u"-af"_s << u"pan=stereo|c0=c0|c1=c0"_s << u"-metadata"_s
                  << u"title="_s + title << codecOptions << path;
        TestAudio::ffmpeg(arguments);
        return path;
    }

private slots:
    void initTestCase() {
        ffmpeg = FFmpegLocator::ffmpegPath().value_or(QString());
        QVERIFY(!ffmpeg.isEmpty());
    }

    void init() {
        fixture.reset();
        Settings::shared().setConvertBehavior(ConvertBehavior::overwrite);
        // Lossy decoders do not give the two channels back bit for bit alike.
        Settings::shared().setComparisonMethod(ComparisonMethod::statistical);
    }

    void monoKeepsCodecQualityTagsAndCover_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("encoder");
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<bool>("withCover");
        QTest::addColumn<bool>("lossy");
        const auto row = [](const char* label, const char* name, const char* encoder,
                            const QString& options, bool withCover, bool lossy) {
            QTest::newRow(label) << QString::fromLatin1(name) << QString::fromLatin1(encoder)
                                 << options.split(u' ') << withCover << lossy;
        };
        row("WAV 16-bit", "s16.wav", "pcm_s16le",
            "-c:a pcm_s16le -write_bext 1 -metadata time_reference=88200", false, false);
        row("WAV 24-bit", "s24.wav", "pcm_s24le", "-c:a pcm_s24le", false, false);
        row("WAV float", "f32.wav", "pcm_f32le", "-c:a pcm_f32le", false, false);
        row("AIFF 16-bit", "s16.aiff", "pcm_s16be", "-c:a pcm_s16be", false, false);
        row("AIFF 24-bit", "s24.aif", "pcm_s24be", "-c:a pcm_s24be", false, false);
        row("FLAC 16-bit", "s16.flac", "flac",
            "-c:a flac -sample_fmt s16 -metadata REPLAYGAIN_TRACK_GAIN=-6.50", false, false);
        row("FLAC 24-bit", "s24.flac", "flac", "-c:a flac -sample_fmt s32", false, false);
        row("ALAC", "alac.m4a", "alac", "-c:a alac", false, false);
        row("AAC with cover", "aac.m4a", "aac", "-c:a aac -b:a 192k", true, true);
        row("MP3 320 CBR with cover", "cbr.mp3", "libmp3lame", "-c:a libmp3lame -b:a 320k", true,
            true);
        row("MP3 VBR", "vbr.mp3", "libmp3lame",
            "-c:a libmp3lame -q:a 2 -metadata REPLAYGAIN_TRACK_GAIN=-6.50", false, true);
        row("Vorbis", "vorbis.ogg", "libvorbis",
            "-c:a libvorbis -q:a 5 -metadata REPLAYGAIN_TRACK_GAIN=-6.50", false, true);
        row("Opus", "opus.ogg", "libopus",
            "-c:a libopus -b:a 128k -metadata REPLAYGAIN_TRACK_GAIN=-6.50", false, true);
        row("WMA", "wma.wma", "wmav2", "-c:a wmav2 -b:a 128k", false, true);
        // Its bit rate follows the channel count, so the codec is simply kept.
        row("ADPCM WAV", "adpcm.wav", "adpcm_ima_wav", "-c:a adpcm_ima_wav", false, true);
    }
    void monoKeepsCodecQualityTagsAndCover() {
        QFETCH(QString, name);
        QFETCH(QString, encoder);
        QFETCH(QStringList, options);
        QFETCH(bool, withCover);
        QFETCH(bool, lossy);
        const std::optional<QSet<QString>> encoders = ffmpegEncoders(ffmpeg);
        QVERIFY(encoders);
        if (!encoders->contains(encoder))
            QSKIP(qPrintable(u"this ffmpeg has no encoder "_s + encoder));

        const QString path = generate(name, options, withCover, encoder == QLatin1String("aac"));
        const auto item = std::make_shared<FileItem>(QUrl::fromLocalFile(path));
        const std::optional<QString> result = fixture.convert(item);
        QVERIFY2(!result, qPrintable(result.value_or(QString())));
        const QString chosen = fixture.log.startingWith(u"Codec chosen: "_s);
        QVERIFY2(chosen.startsWith(u"Codec chosen: "_s + encoder), qPrintable(chosen));

        const QString mono = QFileInfo(path).path() + u'/' + QFileInfo(path).completeBaseName() +
                             u"_MONO."_s + QFileInfo(path).suffix();
        const std::optional<AudioFormat> before = probeAudioFormat(ffmpeg, path);
        const std::optional<AudioFormat> after = probeAudioFormat(ffmpeg, mono);
        QVERIFY(before && after);
        QCOMPARE(after->channels, 1);
        QCOMPARE(after->codec, before->codec);
        QCOMPARE(after->sampleRate, before->sampleRate);
        QCOMPARE(after->sampleFormat, before->sampleFormat);
        QCOMPARE(after->bitsPerSample, before->bitsPerSample);
        if (lossy && !encoder.startsWith(QLatin1String("adpcm"))) {
            const double half = double(before->bitRate) / 2;
            QCOMPARE_LE(qAbs(double(after->bitRate) - half), 0.15 * half);
        }
        // Lossy encoders pad to whole frames or blocks.
        QCOMPARE_LE(qAbs(after->duration - before->duration), lossy ? 0.05 : 1.0 / 44100);
        // Every tag but the name of the encoder that wrote it, the title and
        // ReplayGain and bext values among them.
        QHash<QString, QString> tagsBefore = before->tags, tagsAfter = after->tags;
        tagsBefore.remove(u"encoder"_s);
        tagsAfter.remove(u"encoder"_s);
        QCOMPARE(tagsAfter, tagsBefore);
        QCOMPARE(after->tags.value(u"title"_s), title);
        QCOMPARE(after->pictures.size(), before->pictures.size());
        if (withCover)
            QCOMPARE(coverOf(mono), coverOf(path));
        QCOMPARE_LT(after->fileSize, before->fileSize);
        // The item tells the list what became of it.
        QCOMPARE(item->convertedUrl, QUrl::fromLocalFile(mono));
        QCOMPARE(item->originalSize, QFileInfo(path).size());
        QCOMPARE(item->convertedSize, QFileInfo(mono).size());
    }

    // With the codec's own encoder missing, a lossless codec of the container
    // stands in only where it is no larger than the original.
    void unwritableCodecFallsBackOnlyWhenNoLarger_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("options");
        QTest::addColumn<QString>("missing");
        QTest::addColumn<QString>("outcome");
        const auto row = [](const char* tag, const char* name, const char* options,
                            const char* missing, const char* outcome) {
            QTest::newRow(tag) << name << options << missing << outcome;
        };
        row("24-bit WAV widened to 32-bit", "fallback.wav", "-c:a pcm_s24le", "pcm_s24le",
            "-c:a pcm_s32le");
        row("ADPCM WAV would double", "refused.wav", "-c:a adpcm_ima_wav", "adpcm_ima_wav",
            "Not converted: this ffmpeg cannot write adpcm_ima_wav audio, and pcm_s16le would be "
            "larger than the original");
        row("MP3 holds nothing lossless", "refused.mp3", "-c:a libmp3lame", "libmp3lame",
            "Not converted: this ffmpeg cannot write mp3 audio, and a .mp3 file holds no lossless "
            "codec it can write");
    }
    void unwritableCodecFallsBackOnlyWhenNoLarger() {
        QFETCH(QString, name);
        QFETCH(QString, options);
        QFETCH(QString, missing);
        QFETCH(QString, outcome);
        std::optional<QSet<QString>> encoders = ffmpegEncoders(ffmpeg);
        QVERIFY(encoders && encoders->remove(missing));
        const QString path = generate(name, options.split(u' '), false);
        const std::optional<AudioFormat> format = probeAudioFormat(ffmpeg, path);
        QVERIFY(format);

        const ConversionPlan plan = planConversion(
            path, fixture.pathOf(u"out."_s + QFileInfo(name).suffix()), *format, encoders);
        const QString planned = plan.refusal.value_or(plan.arguments.join(u' '));
        QVERIFY2(planned.contains(outcome), qPrintable(planned));
    }

    void shortTextForTheUser_data() {
        QTest::addColumn<QString>("diagnostics");
        QTest::addColumn<QString>("expected");
        const auto row = [](const char* tag, const QString& diagnostics, const QString& expected) {
            QTest::newRow(tag) << diagnostics << expected;
        };
        row("one keyword line", "frame=1\n[in] Invalid data found\nConversion failed!\n",
            "[in] Invalid data found");
        row("no keyword: last three", "a\nb\nc\nd", "b; c; d");
        row("every keyword line, in order", "Cannot open\nPermission denied",
            "Cannot open; Permission denied");
        row("keywords in any case", "x\nNO SUCH FILE here\ny\nan ERROR\nz",
            "NO SUCH FILE here; an ERROR");
        row("empty", "", "ffmpeg failed");
        row("blanks only", " \n\t\r\n  \n", "ffmpeg failed");
        row("progress lines, trimmed", "size=1kB\rframe=2\r  last words \t\r\n", "last words");
        row("unicode spaces and breaks", QString::fromUtf8("\u2003one\u2028two\u00A0\u2029three"),
            "one; two; three");
        row("descriptions and tags are not the failure",
            "Input #0, flac, from 'in.flac':\n  Metadata:\n    title           : Error Song\n"
            "  Duration: 00:00:01.00, bitrate: 1 kb/s\n  Stream #0:0: Audio: flac\n"
            "Output #0, flac, to 'out.flac':\nStream mapping:\nav_interleaved_write_frame(): "
            "No space left on device\nError writing trailer: No space left on device",
            "Error writing trailer: No space left on device");
        row("the last three distinct keyword lines",
            "bad 1 error\nbad 2 error\nbad 2 error\nbad 3 error\nbad 4 error\nbad 4 error",
            "bad 2 error; bad 3 error; bad 4 error");
        row("at most 300 characters", u"error "_s + QString(400, u'x'),
            u"error "_s + QString(293, u'x') + QChar(0x2026));
    }
    void shortTextForTheUser() {
        QFETCH(QString, diagnostics);
        QFETCH(QString, expected);
        QCOMPARE(extractError(diagnostics), expected);
    }
};

CHANFUSE_TEST_MAIN(FaithfulOutputTest)
#include "tst_faithfuloutput.moc"
