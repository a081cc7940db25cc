// SPDX-License-Identifier: GPL-3.0-or-later

#include "scanner/AnalysisWorker.h"

#include "exec/TimeLimits.h"

#include <QFileInfo>

namespace {

// A header line is a kind and a length; nothing longer is ever sent.
constexpr qsizetype maximumHeaderBytes = 64;
// Larger than any chunk the analyser sends.
constexpr qsizetype maximumPayloadBytes = qsizetype(16) << 20;

QString analyserName(const QString& program) {
    return QFileInfo(program).fileName();
}

} // namespace

// Reads the analyser's answer frames, "KIND LENGTH\n" and LENGTH bytes, from
// its standard output, all under one deadline. The output is read straight
// into one buffer and a payload is lent from it, as a decode's PCM is most
// of what passes.
class AnalysisWorker::Frames {
public:
    enum class Outcome { frame, late, ended, broken };

    explicit Frames(ChildProcess& process) : process(process) {}

    // `payload` stays valid until the next call.
    Outcome next(QByteArray& kind, QByteArrayView& payload,
                 std::chrono::steady_clock::time_point deadline, std::stop_token stop) {
        start += pending;
        pending = 0;
        qsizetype lineEnd;
        while ((lineEnd = buffered.indexOf('\n', start)) < 0) {
            if (buffered.size() - start > maximumHeaderBytes)
                return Outcome::broken;
            if (const Outcome more = fill(deadline, stop); more != Outcome::frame)
                return more;
        }
        const QList<QByteArray> words = buffered.sliced(start, lineEnd - start).split(' ');
        bool number = false;
        const qsizetype length = words.size() == 2 ? words[1].toLongLong(&number) : -1;
        if (!number || length < 0 || length > maximumPayloadBytes)
            return Outcome::broken;
        kind = words[0];
        start = lineEnd + 1;
        while (buffered.size() - start < length)
            if (const Outcome more = fill(deadline, stop); more != Outcome::frame)
                return more;
        payload = QByteArrayView(buffered).sliced(start, length);
        pending = length;
        return Outcome::frame;
    }

private:
    Outcome fill(std::chrono::steady_clock::time_point deadline, std::stop_token stop) {
        constexpr qsizetype readBytes = 256 * 1024;
        // What is still wanted moves to the front before the buffer grows.
        if (start > 0 && buffered.size() + readBytes > buffered.capacity()) {
            buffered.remove(0, start);
            start = 0;
        }
        const qsizetype used = buffered.size();
        buffered.resize(used + readBytes);
        const qsizetype got =
            process.readStandardOutput(buffered.data() + used, readBytes, deadline, stop);
        buffered.resize(used + qMax<qsizetype>(got, 0));
        if (got < 0)
            return Outcome::late;
        if (got == 0)
            return Outcome::ended;
        return Outcome::frame;
    }

    ChildProcess& process;
    QByteArray buffered;
    qsizetype start = 0;   // where the unread answer begins in `buffered`
    qsizetype pending = 0; // the payload lent out, passed over at the next call
};

AnalysisWorker::AnalysisWorker(QString program) : program(std::move(program)) {}

AnalysisWorker::~AnalysisWorker() {
    discard();
}

AnalysisWorker::Reply AnalysisWorker::run(const Request& request,
                                          const std::function<bool(QByteArrayView)>& onPcm,
                                          std::stop_token stop) {
    const auto deadline = detail::deadlineAfter(request.limitSeconds);
    if (!process) {
        auto started = std::make_unique<ChildProcess>();
        if (const std::optional<QString> failure =
                started->start(program, {}, ChildProcess::Output::pipe(),
                               ChildProcess::Output::nullDevice(), ChildProcess::Input::pipe))
            return {Reply::Status::workerLost, {}, *failure};
        process = std::move(started);
        frames = std::make_unique<Frames>(*process);
    }
    Reply reply = runOnProcess(request, onPcm, deadline, stop);
    if (reply.status != Reply::Status::answered && reply.status != Reply::Status::refused)
        discard();
    return reply;
}

AnalysisWorker::Reply AnalysisWorker::runOnProcess(const Request& request,
                                                   const std::function<bool(QByteArrayView)>& onPcm,
                                                   std::chrono::steady_clock::time_point deadline,
                                                   std::stop_token stop) {
    const QByteArray path = request.file.toLocal8Bit();
    const QByteArray verb = request.probe && request.decode ? "probe+decode"
                            : request.decode                ? "decode"
                                                            : "probe";
    const QByteArray seconds = !request.decode   ? QByteArray("-")
                               : request.seconds ? QByteArray::number(*request.seconds)
                                                 : QByteArray("all");
    const auto lost = [this](const QString& what) {
        return Reply{Reply::Status::workerLost,
                     {},
                     QStringLiteral("%1 %2").arg(analyserName(program), what)};
    };
    if (!process->writeStandardInput(verb + ' ' + seconds + ' ' + QByteArray::number(path.size()) +
                                     '\n' + path))
        return lost(QStringLiteral("stopped reading requests"));

    Reply reply{Reply::Status::answered, {}, {}};
    bool stopping = false;
    for (;;) {
        QByteArray kind;
        QByteArrayView payload;
        switch (frames->next(kind, payload, deadline, stop)) {
        case Frames::Outcome::late:
            if (stop.stop_requested())
                return {Reply::Status::stopped, {}, QStringLiteral("Stopped")};
            return {Reply::Status::timedOut, {}, QStringLiteral("Operation timed out")};
        case Frames::Outcome::ended:
            // Perhaps a crash in a decoder: the kernel closed its output as
            // it ended, so the wait is short.
            process->killGroup();
            return lost(QStringLiteral("ended during the analysis (status %1)")
                            .arg(process->waitForExit()));
        case Frames::Outcome::broken:
            return lost(QStringLiteral("broke its protocol"));
        case Frames::Outcome::frame:
            break;
        }
        if (kind == "end")
            return reply;
        if (kind == "error" && stopping) // in the part that was not wanted
            return reply;
        if (kind == "error")
            return {Reply::Status::refused, reply.probe, QString::fromUtf8(payload)};
        if (kind == "probe" && request.probe && reply.probe.isEmpty()) {
            reply.probe = payload.toByteArray();
            if (request.onProbe)
                request.onProbe(reply.probe);
        } else if (kind == "pcm" && request.decode) {
            // Once the rest is not wanted, the analyser is asked to leave it
            // out; what it sent meanwhile is passed over.
            if (!stopping && !onPcm(payload)) {
                stopping = true;
                if (!process->writeStandardInput("stop\n"))
                    return lost(QStringLiteral("stopped reading requests"));
            }
        } else {
            return lost(QStringLiteral("broke its protocol"));
        }
    }
}

void AnalysisWorker::discard() {
    if (!process)
        return;
    // The process is reaped by its destructor, on a thread of its own if it
    // is stuck in the kernel.
    process->killGroup();
    frames.reset();
    process.reset();
}
