#include "scanner/AudioScanner.h"

#include "exec/GuiThread.h"
#include "model/PathParts.h"
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

        if (ffprobeChannelCount(item->url) == 1) {
            markMono(item);
            return;
        }

        const DecodedAudio decoded = decodeToRawPCM(item->url, settings.scanLimitSeconds());
        const bool isStereo = decoded.channelCount == 2;
        writeOnGuiThread(item, [isStereo](FileItem& target) {
            target.channelStatus = isStereo ? ChannelStatus::stereo : ChannelStatus::mono;
        });
        if (!isStereo) {
            writeOnGuiThread(
                item, [](FileItem& target) { target.detectionStatus = DetectionStatus::mono; });
            return;
        }

        const ComparisonMethod method = settings.comparisonMethod();
        // A silent window is no evidence: hidden tracks, live recordings and
        // fade-ins often open with silence before real stereo.
        const bool fake =
            isDigitalSilence(decoded.pcm)
                ? compareWholeFile(item->url, method, wholeFileLimitSeconds(settings)).channelsMatch
                : compareChannels(decoded.pcm, method);
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
