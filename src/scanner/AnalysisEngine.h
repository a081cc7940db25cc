#pragma once

#include "scanner/AnalysisWorker.h"

#include <QString>

#include <memory>
#include <optional>

// Which engine analyses files: chanfuse-analyzer workers built on FFmpeg's
// libraries, or a run of the ffprobe and ffmpeg executables per question.
// The workers serve only an ffmpeg built on the very same libraries, so both
// engines judge the same samples; anything else (no analyser, one that will
// not start, an ffmpeg of another build, CHANFUSE_ANALYZER set empty) leaves
// the executables to serve.
namespace AnalysisEngine {

// The analyser's program when its workers serve the ffmpeg at `ffmpegPath`.
// Decided once per ffmpeg build (path, size and modification time), under
// time limits; blocks, so call it from worker threads only.
std::optional<QString> workerProgram(const QString& ffmpegPath);

// The log line that says which engine serves the ffmpeg at `ffmpegPath`,
// with `workers` analyses at once.
QString description(const QString& ffmpegPath, qint64 workers);

// A worker for one analysis (an idle one, or a new one that starts its
// process on first use); give it back when done so the next analysis
// reuses its process. As many exist as analyses ever ran at once.
std::unique_ptr<AnalysisWorker> takeWorker(const QString& program);
void returnWorker(std::unique_ptr<AnalysisWorker> worker);

} // namespace AnalysisEngine
