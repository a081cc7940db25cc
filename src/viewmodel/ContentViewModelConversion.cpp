#include "viewmodel/ContentViewModel.h"

#include "converter/AudioConverter.h"
#include "exec/WorkerThreads.h"
#include "model/Settings.h"
#include "viewmodel/ConversionSummary.h"
#include "viewmodel/WorkerRuns.h"

namespace {

constexpr int bannerDurationMs = 8000;

} // namespace

void ContentViewModel::convertSelected() {
    if (isConverting_) {
        log(QStringLiteral("Already converting, ignoring duplicate call"));
        return;
    }
    QList<FileItemPtr> snapshot;
    for (const FileItemPtr& item : std::as_const(items_)) {
        if (item->isSelected && item->detectionStatus == DetectionStatus::fakeStereo &&
            claimForConversion(item))
            snapshot.append(item);
    }
    if (snapshot.isEmpty())
        return;

    confettiTimer.stop();
    publish(showConfetti_, false);
    log(QStringLiteral("Converting %1 files").arg(snapshot.size()));
    publish(isConverting_, true);
    publish(convertProgress_, 0.0);
    bannerTimer.stop();
    publish(showConversionComplete_, false);

    auto run = std::make_shared<ConversionRun>();
    convertTask = run;
    activeConversion = run;
    startDetachedWorker([self = QPointer(this), run, converter = converter, snapshot] {
        runConversion(self, run, converter, snapshot);
    });
}

void ContentViewModel::convertItem(const FileItemPtr& item) {
    if (!claimForConversion(item))
        return;
    startDetachedWorker([self = QPointer(this), converter = converter, item,
                         stop = rowConversionsStop.get_token()] {
        convertOnWorker(self, converter, item, stop);
        postToGuiThread([self, item] {
            if (self)
                self->releaseFromConversion({item});
        });
    });
}

bool ContentViewModel::claimForConversion(const FileItemPtr& item) {
    if (isHeldForConversion(item)) {
        log(QStringLiteral("Already converting ") + item->fileName + QStringLiteral(", skipped"));
        return false;
    }
    heldForConversion.insert(item->path());
    return true;
}

void ContentViewModel::releaseFromConversion(const QList<FileItemPtr>& released) {
    for (const FileItemPtr& item : released)
        heldForConversion.remove(item->path());
    emit changed();
}

bool ContentViewModel::isHeldForConversion(const FileItemPtr& item) const {
    return heldForConversion.contains(item->path());
}

// The run's own worker: the snapshot strictly one item after another. A stop
// request cancels the running ffmpeg through the converter and ends the loop
// once that item's outcome is recorded.
void ContentViewModel::runConversion(QPointer<ContentViewModel> self,
                                     std::shared_ptr<ConversionRun> run,
                                     std::shared_ptr<const AudioConverter> converter,
                                     QList<FileItemPtr> snapshot) {
    const std::stop_token stop = run->stop.get_token();
    const qsizetype count = snapshot.size();
    for (qsizetype index = 0; index < count; ++index) {
        if (stop.stop_requested())
            break;
        const FileItemPtr& item = snapshot[index];
        // A stop that reaches the GUI thread first has already cleared the name.
        postToGuiThread([self, run, fileName = item->fileName] {
            if (self && self->isActive(run) && !run->stop.stop_requested())
                self->publish(self->currentConvertingFile_, std::optional<QString>(fileName));
        });
        convertOnWorker(self, converter, item, stop);
        const double progress = double(index + 1) / double(count);
        postToGuiThread([self, run, progress] {
            if (self && self->isActive(run))
                self->publish(self->convertProgress_, progress);
        });
    }
    postToGuiThread([self, run, snapshot] {
        if (!self)
            return;
        self->releaseFromConversion(snapshot);
        self->finishConversion(run);
    });
}

void ContentViewModel::convertOnWorker(QPointer<ContentViewModel> self,
                                       const std::shared_ptr<const AudioConverter>& converter,
                                       const FileItemPtr& item, std::stop_token stop) {
    postToGuiThread([self, fileName = item->fileName] {
        if (self)
            self->log(QStringLiteral("Converting: ") + fileName);
    });
    const LogCallback logLine = [self](const QString& line) {
        postToGuiThread([self, line] {
            if (self)
                self->log(line);
        });
    };
    const std::optional<QString> failure = converter->convertToMono(item, logLine, stop);
    postToGuiThread([self, item, failure] {
        QString outcome;
        if (!failure) {
            item->detectionStatus = DetectionStatus::converted;
            // The row now stands for the converted file (the converter posted
            // its size before returning).
            item->fileSize = item->convertedSize;
            outcome = QStringLiteral("  -> success");
        } else if (failure->startsWith(QStringLiteral("Not converted: channels differ"))) {
            // The whole file proved the scan wrong: this is real stereo.
            item->detectionStatus = DetectionStatus::realStereo;
            item->isSelected = false;
            item->errorMessage = failure;
            outcome = QStringLiteral("  -> NOT CONVERTED: ") + *failure;
        } else if (failure->startsWith(QStringLiteral("Skipped: "))) {
            // Left alone on purpose (another run holds it, or it changed since
            // the scan): shown as skipped, like a time-out, not as an error.
            item->detectionStatus = DetectionStatus::timedOut;
            item->errorMessage = failure;
            outcome = QStringLiteral("  -> SKIPPED: ") + *failure;
        } else if (failure->contains(QStringLiteral("timed out"))) {
            item->detectionStatus = DetectionStatus::timedOut;
            item->errorMessage = failure;
            outcome = QStringLiteral("  -> TIMED OUT: ") + *failure;
        } else {
            item->detectionStatus = DetectionStatus::error;
            item->errorMessage = failure;
            outcome = QStringLiteral("  -> FAILED: ") + *failure;
        }
        if (self)
            self->log(outcome);
    });
}

bool ContentViewModel::isActive(const std::shared_ptr<ConversionRun>& run) const {
    return run == activeConversion;
}

void ContentViewModel::finishConversion(const std::shared_ptr<ConversionRun>& run) {
    if (!isActive(run))
        return;
    publish(currentConvertingFile_, std::optional<QString>());
    publish(isConverting_, false);
    if (convertTask == run)
        convertTask.reset();
    log(QStringLiteral("All conversions complete"));

    qint64 convertedCount = 0;
    qint64 bytesSaved = 0;
    qint64 originalBytes = 0;
    for (const FileItemPtr& item : std::as_const(items_)) {
        if (item->detectionStatus == DetectionStatus::converted) {
            convertedCount += 1;
            bytesSaved += item->spaceSaved();
            originalBytes += item->originalSize;
        }
    }
    if (convertedCount == 0 || run->stop.stop_requested())
        return;

    const Settings& settings = Settings::shared();
    const QString message =
        conversionCompleteText(convertedCount, bytesSaved, originalBytes,
                               settings.convertBehavior(), settings.suffixEnabled());
    publish(conversionCompleteMessage_, message);
    publish(showConversionComplete_, true);
    log(message);
    bannerTimer.start(bannerDurationMs);
}

void ContentViewModel::stopConvert() {
    log(QStringLiteral("Stopping conversion..."));
    if (convertTask) {
        convertTask->stop.request_stop();
        convertTask.reset();
    }
    publish(currentConvertingFile_, std::optional<QString>());
    publish(isConverting_, false);
}

void ContentViewModel::stopAllConversions() {
    if (convertTask)
        stopConvert();
    rowConversionsStop.request_stop();
}
