#include "converter/AudioConverter.h"

#include "converter/BoundedFileQueries.h"
#include "converter/Disposal.h"
#include "converter/ErrorText.h"
#include "converter/FFmpegRun.h"
#include "converter/OutputNaming.h"
#include "exec/GuiThread.h"

#include <QFile>

std::optional<QString> AudioConverter::convertToMono(const FileItemPtr& item,
                                                     const LogCallback& callback,
                                                     std::stop_token stop) const {
    const ConversionLog log(callback);
    const QString input = item->path();
    log(QStringLiteral("ffmpeg input: ") + input);

    const OutputPath output = buildOutputPath(*item, settings);
    log(QStringLiteral("ffmpeg output: ") + output.path + QStringLiteral(" (temp=") +
        (output.isTemp ? QStringLiteral("true") : QStringLiteral("false")) + u')');

    // Measured before anything changes on disk; a time-out records a saving of 0.
    const qint64 originalSize = fileSizeWithin(fileQueryLimitSeconds, input).value_or(0);

    const FFmpegOutcome run = runFFmpeg(input, output.path, log, settings, stop);
    if (!run.ok) {
        QFile::remove(output.path);
        return extractError(run.text);
    }

    if (!fileExistsWithin(fileQueryLimitSeconds, output.path).value_or(false)) {
        log(QStringLiteral("Output file missing after ffmpeg reported success: ") + output.path);
        return QStringLiteral("Output file not created despite ffmpeg success");
    }
    const qint64 convertedSize = fileSizeWithin(fileQueryLimitSeconds, output.path).value_or(0);
    if (convertedSize <= 0) {
        log(QStringLiteral("Output file is empty: ") + output.path);
        return QStringLiteral("Output file is empty");
    }

    if (auto failure = disposeOfOriginal(*item, output, settings, log, stop))
        return failure;

    const QUrl convertedUrl = QUrl::fromLocalFile(output.isTemp ? input : output.path);
    postToGuiThread([item, originalSize, convertedSize, convertedUrl] {
        item->originalSize = originalSize;
        item->convertedSize = convertedSize;
        item->convertedUrl = convertedUrl;
    });
    return std::nullopt;
}
