// SPDX-License-Identifier: GPL-3.0-or-later

#include "converter/FFmpegArguments.h"

#include "converter/BoundedFileQueries.h"
#include "converter/EncoderListCache.h"
#include "exec/ChildProcess.h"
#include "exec/TimeLimits.h"
#include "exec/ToolOutput.h"
#include "scanner/PcmDecode.h"

#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>

#include <algorithm>

namespace {

using Kind = ConversionOutcome::Kind;

std::optional<QSet<QString>> listEncoders(const QString& ffmpegPath, std::stop_token stop) {
    ChildProcess process;
    if (process.start(ffmpegPath, {QStringLiteral("-hide_banner"), QStringLiteral("-encoders")},
                      ChildProcess::Output::pipe(), ChildProcess::Output::nullDevice()))
        return std::nullopt;
    const QByteArray output = process.readAllStandardOutput(nullptr, stop);
    if (stop.stop_requested() || process.waitForExit() != 0)
        return std::nullopt;
    QSet<QString> names = audioEncoders(strictUtf8(output).value_or(QString()));
    if (names.isEmpty())
        return std::nullopt;
    return names;
}

// Lossy codecs whose size follows the bit rate asked for: the encoder that
// writes each, and the lowest rate worth writing for one channel (libvorbis
// and wmav2 refuse less at 44.1 kHz).
struct LossyCodec {
    QLatin1String codec;
    QLatin1String encoder;
    qint64 floor;
};
const LossyCodec lossyCodecs[] = {
    {QLatin1String("mp3"), QLatin1String("libmp3lame"), 32000},
    {QLatin1String("aac"), QLatin1String("aac"), 24000},
    {QLatin1String("vorbis"), QLatin1String("libvorbis"), 32000},
    {QLatin1String("opus"), QLatin1String("libopus"), 12000},
    {QLatin1String("wmav2"), QLatin1String("wmav2"), 32000},
    {QLatin1String("wmav1"), QLatin1String("wmav1"), 32000},
    {QLatin1String("mp2"), QLatin1String("mp2"), 32000},
    {QLatin1String("ac3"), QLatin1String("ac3"), 32000},
    {QLatin1String("eac3"), QLatin1String("eac3"), 32000},
};

bool isLossless(const QString& codec) {
    static const QSet<QString> companded{QStringLiteral("pcm_alaw"), QStringLiteral("pcm_mulaw"),
                                         QStringLiteral("pcm_vidc")};
    static const QSet<QString> compressed{QStringLiteral("flac"), QStringLiteral("alac"),
                                          QStringLiteral("tta"), QStringLiteral("wavpack")};
    return (codec.startsWith(QLatin1String("pcm_")) && !companded.contains(codec)) ||
           compressed.contains(codec);
}

QString kilobits(qint64 bitsPerSecond) {
    return QStringLiteral("%1 kb/s").arg(qRound64(double(bitsPerSecond) / 1000));
}

struct Encoder {
    QString name;
    QStringList options;
    QString description; // for the log: what is written and why
};

// PCM codecs that hold the decoded samples unchanged, narrowest first.
QStringList pcmCodecsFor(const AudioFormat& format, bool bigEndian) {
    QString samples = format.sampleFormat;
    if (samples.endsWith(u'p'))
        samples.chop(1);
    if (samples == QLatin1String("u8"))
        return {bigEndian ? QStringLiteral("pcm_s8") : QStringLiteral("pcm_u8")};
    static const QHash<QString, QStringList> widths{
        {QStringLiteral("s16"), {QStringLiteral("s16")}},
        {QStringLiteral("s32"), {QStringLiteral("s24"), QStringLiteral("s32")}},
        {QStringLiteral("s64"), {QStringLiteral("s64")}},
        {QStringLiteral("flt"), {QStringLiteral("f32")}},
        {QStringLiteral("dbl"), {QStringLiteral("f64")}}};
    QStringList codecs;
    for (const QString& width : widths.value(samples)) {
        if (width == QLatin1String("s24") && format.bitsPerSample != 24)
            continue;
        codecs << QStringLiteral("pcm_") + width +
                      (bigEndian ? QStringLiteral("be") : QStringLiteral("le"));
    }
    return codecs;
}

// Lossless codecs the container holds, for audio this ffmpeg cannot write in
// its own codec; the first one it can write is taken.
QStringList losslessCodecsFor(const QString& extension, const AudioFormat& format) {
    if (extension == QLatin1String("wav"))
        return pcmCodecsFor(format, false);
    if (extension == QLatin1String("aiff") || extension == QLatin1String("aif"))
        return pcmCodecsFor(format, true);
    if (extension == QLatin1String("flac") || extension == QLatin1String("ogg"))
        return {QStringLiteral("flac")};
    if (extension == QLatin1String("m4a"))
        return {QStringLiteral("alac")};
    return {};
}

// Bytes of one uncompressed sample in `codec` (a PCM codec, else the decoded
// samples): what a lossless copy costs at most.
int bytesPerSample(const QString& codec, const AudioFormat& format) {
    static const QRegularExpression pcmWidth(QStringLiteral("^pcm_[suf](8|16|24|32|64)"));
    if (const QRegularExpressionMatch width = pcmWidth.match(codec); width.hasMatch())
        return width.captured(1).toInt() / 8;
    const QString& samples = format.sampleFormat;
    if (samples.startsWith(QLatin1String("u8")))
        return 1;
    if (samples.startsWith(QLatin1String("s16")))
        return 2;
    if (samples.startsWith(QLatin1String("dbl")) || samples.startsWith(QLatin1String("s64")))
        return 8;
    return format.bitsPerSample == 24 ? 3 : 4;
}

OrFailure<Encoder> chooseEncoder(const AudioFormat& format, const QString& extension,
                                 const std::optional<QSet<QString>>& encoders) {
    const auto available = [&encoders](const QString& name) {
        return !encoders || encoders->contains(name);
    };
    const QString& codec = format.codec;
    const int channels = format.channels > 0 ? format.channels : 2;

    const auto lossy =
        std::find_if(std::begin(lossyCodecs), std::end(lossyCodecs),
                     [&codec](const LossyCodec& known) { return codec == known.codec; });
    const bool isLossy = lossy != std::end(lossyCodecs);
    if (isLossy && available(lossy->encoder)) {
        if (format.bitRate <= 0)
            return OrFailure<Encoder>::failed(
                Kind::refused,
                QStringLiteral("Not converted: the bit rate of its %1 audio is unknown")
                    .arg(codec));
        const qint64 perChannel = format.bitRate / channels;
        const qint64 rate = qMax(perChannel, lossy->floor);
        if (rate >= format.bitRate)
            return OrFailure<Encoder>::failed(
                Kind::refused,
                QStringLiteral("Not converted: %1 at %2 would not be smaller than the original")
                    .arg(codec, kilobits(rate)));
        return Encoder{lossy->encoder,
                       {QStringLiteral("-b:a"), QString::number(rate)},
                       QStringLiteral("%1 at %2 (%3 at %4 over %5 channels: %6)")
                           .arg(lossy->encoder, kilobits(rate), codec, kilobits(format.bitRate))
                           .arg(channels)
                           .arg(rate == perChannel ? QStringLiteral("the same bits per channel")
                                                   : QStringLiteral("the floor for ") + codec)};
    }

    QString samples = format.sampleFormat;
    if (format.bitsPerSample > 0)
        samples += QStringLiteral(" %1-bit").arg(format.bitsPerSample);
    samples += QStringLiteral(", %1 Hz").arg(format.sampleRate);
    if (available(codec) && isLossless(codec) && !format.sampleFormat.isEmpty())
        return Encoder{codec,
                       {QStringLiteral("-sample_fmt"), format.sampleFormat},
                       QStringLiteral("%1, %2 (lossless: kept exactly)").arg(codec, samples)};
    // ADPCM, companded PCM and the like: one channel fewer is half the size.
    if (!isLossy && available(codec))
        return Encoder{codec, {}, QStringLiteral("%1, %2 (kept as it was)").arg(codec, samples)};

    const QString cannot =
        QStringLiteral("Not converted: this ffmpeg cannot write %1 audio").arg(codec);
    const QStringList candidates = losslessCodecsFor(extension, format);
    const auto writable = std::find_if(candidates.begin(), candidates.end(), available);
    if (writable == candidates.end())
        return OrFailure<Encoder>::failed(
            Kind::refused,
            cannot + QStringLiteral(", and a .%1 file holds no lossless codec it can write")
                         .arg(extension));
    const QString& lossless = *writable;
    const double losslessBytes =
        format.duration * format.sampleRate * bytesPerSample(lossless, format);
    if (format.fileSize <= 0 || losslessBytes <= 0 || losslessBytes > double(format.fileSize))
        return OrFailure<Encoder>::failed(
            Kind::refused,
            cannot + QStringLiteral(", and %1 would be larger than the original").arg(lossless));
    return Encoder{lossless,
                   {},
                   QStringLiteral("%1, %2 (this ffmpeg cannot write %3; lossless and no larger)")
                       .arg(lossless, samples, codec)};
}

QString trackOf(const QString& type) {
    if (type == QLatin1String("video"))
        return QStringLiteral("a video track");
    if (type == QLatin1String("subtitle"))
        return QStringLiteral("subtitles");
    if (type == QLatin1String("audio"))
        return QStringLiteral("a second audio stream");
    if (type == QLatin1String("attachment"))
        return QStringLiteral("an attached file");
    return QStringLiteral("a %1 stream").arg(type);
}

// What ffmpeg would drop without a word: tracks the container cannot hold,
// and WAV and AIFF chunks it neither reads nor writes. Cue points, loops and
// sampler data are what samplers rely on; a file that has them is left alone.
std::optional<QString> unkeptPart(const QString& extension, const AudioFormat& format,
                                  const ContainerChunks& container) {
    const bool holdsTracks = extension == QLatin1String("m4a") ||
                             extension == QLatin1String("ogg") || extension == QLatin1String("wma");
    for (const OtherStream& other : format.otherStreams)
        if (!holdsTracks || other.type == QLatin1String("audio") ||
            other.type == QLatin1String("attachment"))
            return QStringLiteral("Not converted: it holds ") + trackOf(other.type);

    // Chunks ffmpeg carries over: the format, the samples, the INFO tags and,
    // when asked, the broadcast extension; and padding.
    static const QSet<QString> keptInWav{QStringLiteral("fmt "), QStringLiteral("data"),
                                         QStringLiteral("fact"), QStringLiteral("LIST/INFO"),
                                         QStringLiteral("bext"), QStringLiteral("ds64"),
                                         QStringLiteral("JUNK"), QStringLiteral("junk"),
                                         QStringLiteral("PAD "), QStringLiteral("FLLR")};
    static const QSet<QString> keptInAiff{
        QStringLiteral("COMM"), QStringLiteral("SSND"), QStringLiteral("FVER"),
        QStringLiteral("NAME"), QStringLiteral("AUTH"), QStringLiteral("(c) "),
        QStringLiteral("ANNO"), QStringLiteral("ID3 "), QStringLiteral("id3 ")};
    static const QSet<QString> cuesAndLoops{QStringLiteral("cue "), QStringLiteral("LIST/adtl"),
                                            QStringLiteral("smpl"), QStringLiteral("inst"),
                                            QStringLiteral("MARK"), QStringLiteral("INST")};
    const bool wav = extension == QLatin1String("wav");
    if (!wav && extension != QLatin1String("aiff") && extension != QLatin1String("aif"))
        return std::nullopt;
    for (const QString& chunk : container.chunks) {
        if ((wav ? keptInWav : keptInAiff).contains(chunk))
            continue;
        if (cuesAndLoops.contains(chunk))
            return QStringLiteral("Not converted: its cue and loop points would be lost");
        return QStringLiteral("Not converted: its %1 chunk would be lost").arg(chunk.trimmed());
    }
    return std::nullopt;
}

} // namespace

// After the legend, one line per encoder: " A..X.. name   description", the
// flags being type, frame threads, slice threads, experimental, draw band,
// direct rendering.
QSet<QString> audioEncoders(const QString& listing) {
    static const QRegularExpression encoderLine(
        QStringLiteral("^ A[.F][.S]([.X])[.B][.D] ([^ =]+) "));
    QSet<QString> names;
    for (const QString& line : splitAtLineBreaks(listing)) {
        const QRegularExpressionMatch match = encoderLine.match(line);
        if (match.hasMatch() && match.captured(1) == QLatin1String("."))
            names.insert(match.captured(2));
    }
    return names;
}

std::optional<QSet<QString>> ffmpegEncoders(const QString& ffmpegPath, std::stop_token stop) {
    try {
        return withToolTimeout(
            scanQueue(), toolListingLimitSeconds,
            [ffmpegPath](std::stop_token toolStop) -> std::optional<QSet<QString>> {
                if (std::optional<QSet<QString>> kept = EncoderListCache::read(ffmpegPath))
                    return kept;
                std::optional<QSet<QString>> listed = listEncoders(ffmpegPath, toolStop);
                if (listed)
                    EncoderListCache::write(ffmpegPath, *listed);
                return listed;
            },
            stop);
    } catch (const TimeoutError&) {
    } catch (const CancellationError&) {
    }
    return std::nullopt;
}

OrFailure<ConversionPlan> planConversion(const QString& input, const QString& output,
                                         const AudioFormat& format,
                                         const std::optional<QSet<QString>>& encoders,
                                         ComparisonMethod method,
                                         const ContainerChunks& container) {
    const QString extension = QFileInfo(output).suffix().toLower();
    if (const std::optional<QString> unkept = unkeptPart(extension, format, container))
        return OrFailure<ConversionPlan>::failed(Kind::refused, *unkept);
    const OrFailure<Encoder> chosen = chooseEncoder(format, extension, encoders);
    if (auto refusal = chosen.failure())
        return *std::move(refusal);
    PcmJudgement judgement = judgementFor(method, format.codec, format.sampleRate);
    // The decoder's own form rather than the scan's doubles: this stream is
    // as long as the file, and in a quarter or half the bytes it costs ffmpeg
    // and the check far less.
    judgement.samples = pcmSamplesHolding(format.sampleFormat);

    // One decode feeds two outputs: first the PCM the whole-file check reads
    // on standard output, then the one-channel file.
    // Written in full buffers rather than a write per packet, which would
    // wake the check for every few kilobytes.
    QStringList arguments =
        QStringList{QStringLiteral("-n"), QStringLiteral("-i"), input, QStringLiteral("-map"),
                    QStringLiteral("0:a:0")} +
        pcmStreamArguments(judgement.samples) +
        QStringList{QStringLiteral("-flush_packets"), QStringLiteral("0"), QStringLiteral("-")};
    arguments << QStringLiteral("-map") << QStringLiteral("0:a:0");
    QString choice = QStringLiteral("Codec chosen: ") + chosen->description;

    // Cover art is copied byte for byte where the container holds pictures;
    // elsewhere it is left out rather than turned into a video stream.
    const bool holdsPictures =
        extension == QLatin1String("mp3") || extension == QLatin1String("flac") ||
        extension == QLatin1String("m4a") || extension == QLatin1String("aiff") ||
        extension == QLatin1String("aif");
    int keptPictures = 0;
    for (const AttachedPicture& picture : format.pictures) {
        const bool holdable = holdsPictures && (picture.codec == QLatin1String("mjpeg") ||
                                                picture.codec == QLatin1String("png"));
        if (!holdable) {
            choice += QStringLiteral("; cover %1 not kept (a .%2 file cannot hold it)")
                          .arg(picture.codec, extension);
            continue;
        }
        arguments << QStringLiteral("-map") << QStringLiteral("0:%1").arg(picture.streamIndex);
        arguments << QStringLiteral("-disposition:v:%1").arg(keptPictures++)
                  << QStringLiteral("attached_pic");
        choice += QStringLiteral("; cover %1 copied").arg(picture.codec);
    }
    // Every other track the container holds, as it is.
    for (const OtherStream& other : format.otherStreams) {
        arguments << QStringLiteral("-map") << QStringLiteral("0:%1").arg(other.streamIndex);
        choice += QStringLiteral("; %1 copied").arg(trackOf(other.type));
    }
    if (keptPictures > 0 || !format.otherStreams.isEmpty())
        arguments << QStringLiteral("-c:v") << QStringLiteral("copy") << QStringLiteral("-c:s")
                  << QStringLiteral("copy") << QStringLiteral("-c:d") << QStringLiteral("copy");

    // A channel picked, never ffmpeg's downmix: that mixes two identical
    // channels to one 3 dB louder, and clips loud ones.
    arguments << QStringLiteral("-af")
              << (judgement.method == ComparisonMethod::byteExact
                      ? QStringLiteral("pan=mono|c0=c0")
                      : QStringLiteral("pan=mono|c0=0.5*c0+0.5*c1"))
              << QStringLiteral("-c:a") << chosen->name << chosen->options;

    arguments << QStringLiteral("-map_metadata") << QStringLiteral("0");
    // Ogg keeps its comments (ReplayGain among them) on the stream, not the file.
    if (extension == QLatin1String("ogg"))
        arguments << QStringLiteral("-map_metadata:s:a") << QStringLiteral("0:s:a:0");
    // A broadcast WAV's bext chunk comes back only when asked for, and an
    // RF64 file stays one.
    if (extension == QLatin1String("wav") && container.chunks.contains(QStringLiteral("bext")))
        arguments << QStringLiteral("-write_bext") << QStringLiteral("1");
    if (extension == QLatin1String("wav") && container.rf64)
        arguments << QStringLiteral("-rf64") << QStringLiteral("always");
    // ffmpeg writes ID3v2.4 unless told; players that read only 2.3 exist.
    if (extension == QLatin1String("mp3") && container.id3v2Version == 3)
        arguments << QStringLiteral("-id3v2_version") << QStringLiteral("3");
    // Beyond its few text chunks, AIFF keeps tags and pictures in an ID3 chunk.
    if ((extension == QLatin1String("aiff") || extension == QLatin1String("aif")) &&
        (keptPictures > 0 || !format.tags.isEmpty()))
        arguments << QStringLiteral("-write_id3v2") << QStringLiteral("1");
    arguments << output;
    return ConversionPlan{arguments, choice, judgement, format.tags};
}

OrFailure<ConversionPlan> planConversion(const QString& ffmpegPath, const QString& input,
                                         const QString& output, ComparisonMethod method,
                                         std::stop_token stop) {
    const std::optional<AudioFormat> format = probeAudioFormat(ffmpegPath, input, stop);
    if (!format)
        return OrFailure<ConversionPlan>::failed(
            Kind::refused, QStringLiteral("Not converted: could not read its audio format"));
    // The scan's verdict may be stale: the file may have been replaced since.
    if (format->channels != 2)
        return OrFailure<ConversionPlan>::failed(
            Kind::skipped, QStringLiteral("Skipped: the file no longer has two channels"));
    std::optional<ContainerChunks> container;
    try {
        container =
            withHardTimeout(fileQueryLimitSeconds, [input] { return readContainerChunks(input); });
    } catch (const TimeoutError&) {
    }
    if (!container)
        return OrFailure<ConversionPlan>::failed(
            Kind::refused, QStringLiteral("Not converted: could not read its chunks"));
    return planConversion(input, output, *format, ffmpegEncoders(ffmpegPath, stop), method,
                          *container);
}
