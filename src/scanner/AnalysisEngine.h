// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "scanner/AnalysisWorker.h"

#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <stop_token>

// Which engine analyses files: chanfuse-analyzer workers built on FFmpeg's
// libraries, or a run of the ffprobe and ffmpeg executables per question.
// The workers serve only an ffmpeg built on the very same libraries, so both
// engines judge the same samples; anything else (no analyser, one that will
// not start, an ffmpeg of another build, CHANFUSE_ANALYZER set empty) leaves
// the executables to serve.
namespace AnalysisEngine {

// The analyser's program when its workers serve the ffmpeg at `ffmpegPath`.
// Decided once per build of both programs (path, size and modification
// time), under time limits, and a yes is kept for later runs; blocks, so
// call it from worker threads only.
std::optional<QString> workerProgram(const QString& ffmpegPath);

// The log line that says which engine serves the ffmpeg at `ffmpegPath`,
// with `workers` analyses at once. Blocks like workerProgram.
QString description(const QString& ffmpegPath, qint64 workers);

// Runs one request on an idle worker of `program`, or on a new one that
// starts its process then, and keeps the worker for the next request; as
// many exist as requests ever ran at once. Blocks the calling worker thread.
AnalysisWorker::Reply ask(const QString& program, const AnalysisWorker::Request& request,
                          const std::function<bool(QByteArrayView)>& onPcm,
                          std::stop_token stop = {});

} // namespace AnalysisEngine
