// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "exec/ChildProcess.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>

// One chanfuse-analyzer process serving one analysis slot: started on the
// first request, reused for the next ones, and replaced after anything that
// leaves its state in doubt. The process is a ChildProcess like every tool
// (own process group, death signal, only the standard streams).
//
// Each request has a time limit counted from the moment it is sent. At the
// limit, on a stop request, on an answer that breaks the protocol, or when
// the process dies, its whole group is killed and the next request starts a
// fresh one, so one hostile or unlucky file costs that file alone.
class AnalysisWorker {
public:
    struct Request {
        QString file;
        bool probe = false;
        bool decode = false;           // with the probe, only of one two-channel audio stream
        std::optional<qint64> seconds; // of the decode; nothing: all of it
        double limitSeconds = 10;
        // Gets the probe as it arrives, before any PCM.
        std::function<void(const QByteArray&)> onProbe = {};
    };

    struct Reply {
        enum class Status {
            answered,  // the probe and the PCM are in; the PCM may have been cut short by onPcm
            refused,   // the analyser could not read the file; `reason` says why
            timedOut,  // the limit passed; the worker was killed
            stopped,   // a stop was requested; the worker was killed
            workerLost // it could not start, died, or broke the protocol
        };
        Status status = Status::workerLost;
        QByteArray probe; // ffprobe-style JSON
        QString reason;
    };

    explicit AnalysisWorker(QString program);
    ~AnalysisWorker();
    AnalysisWorker(const AnalysisWorker&) = delete;
    AnalysisWorker& operator=(const AnalysisWorker&) = delete;

    // Blocks the calling worker thread. `onPcm` gets the decoded PCM in
    // chunks; returning false ends the decode early (the analyser is told to
    // stop, and serves the next request).
    Reply run(const Request& request, const std::function<bool(QByteArrayView)>& onPcm,
              std::stop_token stop = {});

    const QString& programPath() const { return program; }

    // The serving process, 0 before the first request or after a loss.
    pid_t processId() const { return process ? process->pid() : 0; }

private:
    class Frames;
    Reply runOnProcess(const Request& request, const std::function<bool(QByteArrayView)>& onPcm,
                       std::chrono::steady_clock::time_point deadline, std::stop_token stop);
    void discard();

    QString program;
    std::unique_ptr<ChildProcess> process;
    std::unique_ptr<Frames> frames;
};
