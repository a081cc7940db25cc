#include "scanner/AudioScanner.h"

#include "exec/GuiThread.h"
#include "model/PathParts.h"
#include "scanner/ScannerError.h"
#include "scanner/WholeFileComparison.h"

#include <algorithm>
#include <exception>
#include <functional>
#include <iostream>

namespace {

// Every write to an item happens on the GUI thread; the worker never waits
// for it. The item is captured by value so the write owns what it touches.
void writeOnGuiThread(const FileItemPtr& item, std::function<void(FileItem&)> write) {
    postToGuiThread([item, write = std::move(write)] { write(*item); });
}

bool isDigitalSilence(const QByteArray& pcm) {
    return std::all_of(pcm.cbegin(), pcm.cend(), [](char byte) { return byte == 0; });
}

void markMono(const FileItemPtr& item) {
    writeOnGuiThread(item, [](FileItem& target) {
        target.channelStatus = ChannelStatus::mono;
        target.detectionStatus = DetectionStatus::mono;
    });
}

// More than two channels, or more than one audio stream: a mono file would
// lose all but one of them, so the file is listed and never offered.
void markOtherLayout(const FileItemPtr& item, ChannelStatus layout, qint64 count) {
    writeOnGuiThread(item, [layout, count](FileItem& target) {
        target.channelStatus = layout;
        target.layoutCount = count;
        target.detectionStatus = DetectionStatus::multichannel;
        target.isSelected = false;
    });
}

void markFailed(const FileItemPtr& item, const char* message) {
    const QString line = QStringLiteral("[DEBUG] Scan failed for ") +
                         lastPathComponent(item->path()) + QStringLiteral(": ") +
                         QString::fromUtf8(message) + u'\n';
    std::cout << line.toStdString() << std::flush;
    writeOnGuiThread(item,
                     [](FileItem& target) { target.detectionStatus = DetectionStatus::error; });
}

} // namespace

void AudioScanner::analyzeFile(const FileItemPtr& item) const {
    try {
        const QString suffix = settings.suffix();
        if (!suffix.isEmpty() && item->fileName.endsWith(suffix)) {
            markMono(item);
            return;
        }

        // Without a trustworthy count the file cannot be shown to hold two
        // channels, and only such a file may ever be converted.
        const std::optional<AudioLayout> layout = ffprobeAudioLayout(item->url);
        if (!layout)
            throw ScannerError();
        if (layout->audioStreams > 1) {
            markOtherLayout(item, ChannelStatus::multipleStreams, layout->audioStreams);
            return;
        }
        if (layout->channels == 1) {
            markMono(item);
            return;
        }
        if (layout->channels > 2) {
            markOtherLayout(item, ChannelStatus::multichannel, layout->channels);
            return;
        }

        writeOnGuiThread(item,
                         [](FileItem& target) { target.channelStatus = ChannelStatus::stereo; });
        const QByteArray pcm = decodeToRawPCM(item->url, settings.scanLimitSeconds());
        const ComparisonMethod method = settings.comparisonMethod();
        // A silent window is no evidence: hidden tracks, live recordings and
        // fade-ins often open with silence before real stereo.
        const bool fake =
            isDigitalSilence(pcm)
                ? compareWholeFile(item->url, method, wholeFileLimitSeconds(settings)).channelsMatch
                : compareChannels(pcm, method);
        const bool select = fake && settings.autoSelectAll();
        writeOnGuiThread(item, [fake, select](FileItem& target) {
            target.detectionStatus =
                fake ? DetectionStatus::fakeStereo : DetectionStatus::realStereo;
            target.isSelected = select;
        });
    } catch (const std::exception& failure) {
        markFailed(item, failure.what());
    }
}
