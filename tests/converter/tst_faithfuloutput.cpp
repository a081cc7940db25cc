// SPDX-License-Identifier: GPL-3.0-or-later

#include "ConverterFixture.h"
#include "FakeTools.h"
#include "TestAudio.h"
#include "TestMain.h"

#include "converter/FFmpegArguments.h"
#include "converter/FFmpegErrorText.h"
#include "exec/FFmpegLocator.h"
#include "scanner/AudioScanner.h"

#include <QFileInfo>
#include <QtEndian>

#include <cmath>

using namespace Qt::StringLiterals;

namespace {

const QString title = u"Chanfuse Test"_s;

// Every `step`-th decoded sample of a file's first audio stream, as exactly
// as doubles hold them: with 2, the left channel of two.
QList<double> samplesOf(const QString& path, qsizetype step = 1) {
    const QByteArray pcm = TestAudio::ffmpeg(QStringList{u"-i"_s, path} +
                                             u"-map 0:a:0 -f f64le -c:a pcm_f64le -"_s.split(u' '));
    QList<double> samples;
    for (qsizetype at = 0; at + 8 <= pcm.size(); at += 8 * step)
        samples.append(qFromLittleEndian<double>(pcm.constData() + at));
    return samples;
}

// RMS and peak, in dBFS.
std::pair<double, double> levelOf(const QList<double>& samples) {
    double energy = 0, peak = 0;
    for (double sample : samples) {
        energy += sample * sample;
        peak = qMax(peak, qAbs(sample));
    }
    return {10 * std::log10(energy / double(samples.size())), 20 * std::log10(peak)};
}

// What this machine's ffmpeg 5.1 wrote, recorded in tests/converter/fixtures.
QString recorded(const char* name) {
    return QString::fromUtf8(TestFiles::contentsOf(
        QStringLiteral(QT_TESTCASE_SOURCEDIR "/converter/fixtures/") + QLatin1String(name)));
}

// The bytes of a file's first cover picture, as they are stored.
QByteArray coverOf(const QString& path) {
    return TestAudio::ffmpeg(QStringList{u"-i"_s, path} +
                             u"-map 0:v:0 -c copy -f image2pipe -"_s.split(u' '));
}

} // namespace

// What ffmpeg is asked for and what it gives back: real conversions of one
// fake-stereo file per format, where the mono file must be the original minus
// one channel, taken as it is, in its codec and sample format, with its tags
// and cover, at the bits per channel it had, and smaller; real stereo that
// must be left alone; and the short text a failed run shows the user.
class FaithfulOutputTest : public QObject {
    Q_OBJECT

    ConverterFixture fixture;
    QString ffmpeg;

    // Pink noise, the same at every run, on two identical channels: lossy
    // encoders spend their full bit rate on it.
    QString generate(const QString& name, const QStringList& codecOptions, bool withCover,
                     int seconds = 3) {
        const QString path = fixture.pathOf(name);
        QStringList arguments{u"-f"_s, u"lavfi"_s, u"-i"_s,
                              u"anoisesrc=d=%1:c=pink:a=0.3:r=44100:seed=1"_s.arg(seconds)};
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

    DetectionStatus scan(const FileItemPtr& item) {
        if (!TestSupport::finishOnWorker(
                [item] { AudioScanner(Settings::shared()).analyzeFile(item->url).applyTo(*item); },
                60000))
            qFatal("the scan did not finish");
        return item->detectionStatus;
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
        QTest::addColumn<int>("seconds");
        const auto row = [](const char* label, const char* name, const char* encoder,
                            const QString& options, bool withCover, bool lossy, int seconds = 3) {
            QTest::newRow(label) << QString::fromLatin1(name) << QString::fromLatin1(encoder)
                                 << options.split(u' ') << withCover << lossy << seconds;
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
        // Without noise substitution and intensity stereo, which decode two
        // identical channels to different ones.
        row("AAC with cover", "aac.m4a", "aac", "-c:a aac -b:a 192k -aac_pns 0 -aac_is 0 -aac_ms 1",
            true, true);
        row("MP3 320 CBR with cover", "cbr.mp3", "libmp3lame", "-c:a libmp3lame -b:a 320k", true,
            true);
        row("MP3 VBR", "vbr.mp3", "libmp3lame",
            "-c:a libmp3lame -q:a 2 -metadata REPLAYGAIN_TRACK_GAIN=-6.50", false, true);
        // Its frames pad the mono file by about 0.2 s: well within a share of
        // a minute, though more than a tenth of a second.
        row("MP3 8 kHz, a minute", "8k.mp3", "libmp3lame", "-c:a libmp3lame -b:a 64k -ar 8000",
            false, true, 60);
        row("Vorbis", "vorbis.ogg", "libvorbis",
            "-c:a libvorbis -b:a 96k -metadata REPLAYGAIN_TRACK_GAIN=-6.50", false, true);
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
        QFETCH(int, seconds);
        const std::optional<QSet<QString>> encoders = ffmpegEncoders(ffmpeg);
        QVERIFY(encoders);
        if (!encoders->contains(encoder))
            QSKIP(qPrintable(u"this ffmpeg has no encoder "_s + encoder));

        const QString path = generate(name, options, withCover, seconds);
        const auto item = std::make_shared<FileItem>(QUrl::fromLocalFile(path));
        QCOMPARE(scan(item), DetectionStatus::fakeStereo);
        const QList<double> left = samplesOf(path, 2);
        const std::optional<QString> result = fixture.convert(item);
        QVERIFY2(!result, qPrintable(result.value_or(QString())));
        const QString chosen = fixture.log.startingWith(u"Codec chosen: "_s);
        QVERIFY2(chosen.startsWith(u"Codec chosen: "_s + encoder), qPrintable(chosen));

        const QString output = QFileInfo(path).path() + u'/' + QFileInfo(path).completeBaseName() +
                               u"_MONO."_s + QFileInfo(path).suffix();
        const std::optional<AudioFormat> before = probeAudioFormat(ffmpeg, path);
        const std::optional<AudioFormat> after = probeAudioFormat(ffmpeg, output);
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
        // Every tag is kept, or the conversion would have refused.
        QCOMPARE(after->tags.value(u"title"_s), title);
        QCOMPARE(after->pictures.size(), before->pictures.size());
        if (withCover)
            QCOMPARE(coverOf(output), coverOf(path));
        QCOMPARE_LT(after->fileSize, before->fileSize);
        // Lossless, the left channel bit for bit.
        if (!lossy)
            QVERIFY(samplesOf(output) == left);
        // The item tells the list what became of it.
        QCOMPARE(item->convertedUrl, QUrl::fromLocalFile(output));
        QCOMPARE(item->originalSize, QFileInfo(path).size());
        QCOMPARE(item->convertedSize, QFileInfo(output).size());
    }

    // Real stereo, however slight or quiet, is real stereo to the scan by
    // either method and to the conversion's check of the whole file, which
    // refuses where it starts and leaves the folder as it was. Loud lossy
    // fake stereo is found by the statistical method, and its mono file has
    // the level of one channel: no louder, clipping no more.
    void verdictsOnRealFiles_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("left");
        QTest::addColumn<QString>("right");
        QTest::addColumn<double>("seconds");
        QTest::addColumn<QString>("options");
        QTest::addColumn<QString>("at"); // where the check refuses; empty for fake stereo
        const QString music = TestAudio::tone(440, 0.5);
        // Broadband and different in each channel, at `level`.
        const auto noise = [](double level, int seed) {
            return u"+%1*sin(n*n*0.%2)"_s.arg(level).arg(seed);
        };
        const auto row = [](const char* tag, const char* name, const QString& left,
                            const QString& right, double seconds, const char* options,
                            const char* at = "0:00") {
            QTest::newRow(tag) << name << left << right << seconds << options << at;
        };
        row("24-bit FLAC, right differs in its low 7 bits", "low bits.flac", music,
            music + u"+0.000007*sin(2*PI*97*t)"_s, 2, "-c:a flac -sample_fmt s32");
        row("float WAV, -100 dBFS stereo tail", "tail.wav", music,
            music + u"+if(gt(t\\,2)\\,0.00001*sin(2*PI*1000*t)\\,0)"_s, 3, "-c:a pcm_f32le",
            "0:02");
        row("-65 dBFS stereo after loud identical audio", "quiet end.wav",
            u"if(lt(t\\,2)\\,0.5\\,0.00056)*sin(2*PI*440*t)"_s,
            u"if(lt(t\\,2)\\,0.5*sin(2*PI*440*t)\\,0.00056*sin(2*PI*660*t))"_s, 3, "", "0:02");
        row("stereo below -60 dBFS throughout", "quiet.wav", TestAudio::tone(440, 0.0005),
            TestAudio::tone(660, 0.0005), 2, "");
        row("one sample differs in 10 ms", "short.wav", music,
            music + u"+if(eq(n\\,200)\\,0.0001\\,0)"_s, 0.01, "");
        row("8-bit WAV, one step apart after 1 s", "8 bit.wav", music,
            music + u"+if(gt(t\\,1)\\,0.008\\,0)"_s, 2, "-c:a pcm_u8", "0:01");
        row("64-bit float WAV, right differs in its last bit", "double.wav", music,
            music + u"*(1+1e-15)"_s, 2, "-c:a pcm_f64le");
        row("16-bit dither", "dither.wav", music + noise(1.0 / 32768, 123),
            music + noise(1.0 / 32768, 567), 2, "");
        row("MP3, right at half level", "half.mp3", music, TestAudio::tone(440, 0.25), 2,
            "-c:a libmp3lame -b:a 192k");
        row("Opus, -70 dBFS noise bed", "bed.ogg", music + noise(0.000316, 123),
            music + noise(0.000316, 567), 2, "-c:a libopus -b:a 128k");
        // Peaks at -0.9 dBFS, faded in and out lest encoders overshoot.
        const QString loud = u"sin(PI*t/3)*(0.6*sin(2*PI*440*t)+0.3*sin(2*PI*1330*t))"_s;
        row("fake stereo, MP3", "loud.mp3", loud, loud, 3, "-c:a libmp3lame -b:a 192k", "");
        row("fake stereo, Vorbis", "loud.ogg", loud, loud, 3, "-c:a libvorbis -b:a 96k", "");
        row("fake stereo, Opus", "loud opus.ogg", loud, loud, 3, "-c:a libopus -b:a 96k", "");
        row("fake stereo, AAC", "loud.m4a", loud, loud, 3,
            "-c:a aac -b:a 192k -aac_pns 0 -aac_is 0", "");
        row("fake stereo, WMA", "loud.wma", loud, loud, 3, "-c:a wmav2 -b:a 128k", "");
    }
    void verdictsOnRealFiles() {
        QFETCH(QString, name);
        QFETCH(QString, left);
        QFETCH(QString, right);
        QFETCH(double, seconds);
        QFETCH(QString, options);
        QFETCH(QString, at);
        const QString path = fixture.pathOf(name);
        TestAudio::generate(path, {left, right}, seconds, options.split(u' ', Qt::SkipEmptyParts));
        const QMap<QString, QByteArray> before = fixture.left();
        for (ComparisonMethod method : allCases<ComparisonMethod>()) {
            Settings::shared().setComparisonMethod(method);
            const auto item = std::make_shared<FileItem>(QUrl::fromLocalFile(path));
            if (at.isEmpty() && method == ComparisonMethod::statistical) {
                QCOMPARE(scan(item), DetectionStatus::fakeStereo);
                const auto [rms, peak] = levelOf(samplesOf(path, 2));
                const std::optional<QString> result = fixture.convert(item);
                QVERIFY2(!result, qPrintable(result.value_or(QString())));
                const auto [monoRms, monoPeak] =
                    levelOf(samplesOf(item->convertedUrl->toLocalFile()));
                QCOMPARE_LE(qAbs(monoRms - rms), 0.5);
                QCOMPARE_LE(monoPeak, peak + 0.5);
            } else if (!at.isEmpty()) {
                QCOMPARE(scan(item), DetectionStatus::realStereo);
                QCOMPARE(fixture.convert(item).value_or(u"converted"_s),
                         u"Not converted: channels differ at "_s + at);
                QCOMPARE(fixture.left(), before);
            }
        }
    }

    // Other tracks, tags and chunks: kept as they were, or the file is left
    // alone with what would be lost.
    void otherTracksTagsAndChunks_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("options");
        QTest::addColumn<QByteArray>("chunks"); // appended to a WAV
        QTest::addColumn<QString>("outcome");   // the refusal, or how the mono file starts
        const auto row = [](const char* tag, const char* name, const char* options,
                            const QByteArray& chunks, const char* outcome) {
            QTest::newRow(tag) << name << options << chunks << outcome;
        };
        row("M4A with a video track", "video.m4a",
            "-f lavfi -i testsrc=s=64x64:d=2 -map 0 -map 1 -c:a alac -c:v mpeg4", {}, "");
        row("M4A with custom tags", "custom.m4a",
            "-c:a alac -metadata REPLAYGAIN_TRACK_GAIN=-6.50 -movflags use_metadata_tags", {},
            "Not converted: its tags would be lost: replaygain_track_gain");
        row("WAV with cue and smpl chunks", "cues.wav", "-c:a pcm_s16le",
            QByteArray("cue \x1c\0\0\0\x01\0\0\0", 12) + QByteArray(24, '\0') +
                QByteArray("smpl\x24\0\0\0", 8) + QByteArray(36, '\0'),
            "Not converted: its cue and loop points would be lost");
        row("ID3v2.3 MP3", "v23.mp3", "-c:a libmp3lame -id3v2_version 3 -metadata title=T", {},
            "ID3\x03");
        row("RF64 WAV", "big.wav", "-c:a pcm_s16le -rf64 always", {}, "RF64");
    }
    void otherTracksTagsAndChunks() {
        QFETCH(QString, name);
        QFETCH(QString, options);
        QFETCH(QByteArray, chunks);
        QFETCH(QString, outcome);
        const QString path = fixture.pathOf(name);
        TestAudio::generate(path, {TestAudio::tone(440, 0.5), TestAudio::tone(440, 0.5)}, 2,
                            options.split(u' '));
        if (!chunks.isEmpty()) {
            QByteArray wav = TestFiles::contentsOf(path) + chunks;
            qToLittleEndian(quint32(wav.size() - 8), wav.data() + 4);
            TestFiles::writeFile(path, wav);
        }
        const QMap<QString, QByteArray> before = fixture.left();
        const std::optional<AudioFormat> original = probeAudioFormat(ffmpeg, path);
        const auto item = std::make_shared<FileItem>(QUrl::fromLocalFile(path));
        const std::optional<QString> result = fixture.convert(item);
        if (result) {
            QCOMPARE(*result, outcome);
            QCOMPARE(fixture.left(), before);
            return;
        }
        const QString mono = item->convertedUrl->toLocalFile();
        QVERIFY(TestFiles::contentsOf(mono).startsWith(outcome.toLatin1()));
        const std::optional<AudioFormat> written = probeAudioFormat(ffmpeg, mono);
        QVERIFY(original && written);
        QCOMPARE(written->otherStreams.size(), original->otherStreams.size());
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

        const OrFailure<ConversionPlan> plan =
            planConversion(path, fixture.pathOf(u"out."_s + QFileInfo(name).suffix()), *format,
                           encoders, ComparisonMethod::byteExact, {});
        const QString planned = plan.failure() ? plan.failure()->text : plan->arguments.join(u' ');
        QVERIFY2(planned.contains(outcome), qPrintable(planned));
    }

    // The encoders are listed once per ffmpeg build and kept in the cache
    // folder; an ffmpeg replaced at the same path is listed again.
    void encoderListKeptPerBuild() {
        FakeTools tools;
        tools.script(u"ffmpeg"_s, u"echo >> \"$0.runs\"; exec /usr/bin/ffmpeg \"$@\""_s);
        const QString fake = tools.path(u"ffmpeg"_s);
        const auto runs = [&] { return TestFiles::contentsOf(fake + u".runs"_s).count('\n'); };
        const std::optional<QSet<QString>> listed = ffmpegEncoders(fake);
        QVERIFY(listed && listed->contains(u"flac"_s) && listed->contains(u"libmp3lame"_s));
        QCOMPARE(ffmpegEncoders(fake), listed);
        QCOMPARE(runs(), 1);
        const QDir kept(QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) +
                        u"/chanfuse/encoders"_s);
        const QStringList entries = kept.entryList(QDir::Files);
        QVERIFY(std::any_of(entries.cbegin(), entries.cend(), [&](const QString& entry) {
            return TestFiles::contentsOf(kept.filePath(entry)).startsWith(fake.toUtf8() + ' ');
        }));

        QFile script(fake);
        QVERIFY(script.open(QIODevice::ReadWrite));
        QVERIFY(script.setFileTime(QDateTime::currentDateTime().addDays(-1),
                                   QFileDevice::FileModificationTime));
        script.close();
        QCOMPARE(ffmpegEncoders(fake), listed);
        QCOMPARE(ffmpegEncoders(fake), listed);
        QCOMPARE(runs(), 2);
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
        row("recorded: disk full", recorded("ffmpeg-disk-full.txt"),
            "Error writing trailer of /dev/full: No space left on device; "
            "Error closing file /dev/full: No space left on device");
        row("recorded: unknown encoder", recorded("ffmpeg-unknown-encoder.txt"),
            "Unknown encoder 'nosuchcodec'");
        row("recorded: missing input", recorded("ffmpeg-missing-input.txt"),
            "/tmp/leasetest/nothere.flac: No such file or directory");
    }
    void shortTextForTheUser() {
        QFETCH(QString, diagnostics);
        QFETCH(QString, expected);
        QCOMPARE(extractError(diagnostics), expected);
    }

    // Recorded ffprobe reports: the stream's numbers, else the whole file's
    // (neither of these streams states its bit rate), the tags and the cover.
    void formatReadFromTheReport_data() {
        QTest::addColumn<QString>("report");
        QTest::addColumn<QString>("codec");
        QTest::addColumn<int>("sampleRate");
        QTest::addColumn<qint64>("bitRate");
        QTest::addColumn<double>("duration");
        QTest::addColumn<int>("pictures");
        QTest::newRow("FLAC with a cover") << "ffprobe-cover.flac.json"
                                           << "flac" << 44100 << qint64(136596) << 2.0 << 1;
        QTest::newRow("Opus") << "ffprobe-opus.ogg.json"
                              << "opus" << 48000 << qint64(109512) << 2.0065 << 0;
    }
    void formatReadFromTheReport() {
        QFETCH(QString, report);
        QFETCH(QString, codec);
        QFETCH(int, sampleRate);
        QFETCH(qint64, bitRate);
        QFETCH(double, duration);
        QFETCH(int, pictures);
        const std::optional<AudioFormat> format =
            audioFormatFromReport(recorded(qPrintable(report)).toUtf8());
        QVERIFY(format);
        QCOMPARE(format->codec, codec);
        QCOMPARE(format->channels, 2);
        QCOMPARE(format->sampleRate, sampleRate);
        QCOMPARE(format->bitRate, bitRate);
        QCOMPARE(format->duration, duration);
        QCOMPARE(format->pictures.size(), pictures);
        QVERIFY(format->otherStreams.isEmpty());
        QCOMPARE(format->tags.value(u"title"_s), u"Song"_s);
    }

    // A recorded `ffmpeg -encoders`: audio encoders that are not experimental.
    void encodersReadFromTheListing_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("offered");
        QTest::newRow("lossless") << "flac" << true;
        QTest::newRow("from a library") << "libmp3lame" << true;
        QTest::newRow("experimental") << "opus" << false;
        QTest::newRow("video") << "mjpeg" << false;
        QTest::newRow("the legend") << "=" << false;
    }
    void encodersReadFromTheListing() {
        QFETCH(QString, name);
        QFETCH(bool, offered);
        QCOMPARE(audioEncoders(recorded("ffmpeg-encoders.txt")).contains(name), offered);
    }
};

CHANFUSE_TEST_MAIN(FaithfulOutputTest)
#include "tst_faithfuloutput.moc"
