// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>
#include <optional>
#include <stop_token>
#include <sys/types.h>

// A child process started from an executable path and an argument list, never
// through a shell. Standard input is always the null device: ffmpeg reads keys
// from a terminal, and a backgrounded reader would be stopped by the terminal.
// The child gets a process group of its own, so a Ctrl-C meant for us does not
// kill it behind the supervisor's back; it starts with default signal
// handling, an empty signal mask and only the three standard streams; and it
// is killed when this process dies, however it dies, so no ffmpeg finishes a
// file for a run that no longer exists (ChildProcess.cpp says why this is not
// QProcess).
//
// Everything here blocks the calling thread; use it from workers only. The
// destructor never blocks: a child still running then is reaped by a detached
// thread whenever it ends.
class ChildProcess {
public:
    // Where a standard stream of the child goes.
    struct Output {
        enum class Kind { null, pipe, file };
        Kind kind = Kind::null;
        int fileDescriptor = -1; // for Kind::file; the caller keeps ownership

        static Output nullDevice() { return {Kind::null, -1}; }
        static Output pipe() { return {Kind::pipe, -1}; }
        static Output file(int fd) { return {Kind::file, fd}; }
    };

    ChildProcess() = default;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ~ChildProcess();

    // Standard input is the null device, or a pipe for a child that serves
    // requests (writeStandardInput).
    enum class Input { nullDevice, pipe };

    // Returns an error message when the process could not be started.
    std::optional<QString> start(const QString& program, const QStringList& arguments,
                                 Output standardOutput, Output standardError,
                                 Input standardInput = Input::nullDevice);

    pid_t pid() const { return childPid; }

    // Non-blocking; collects the exit status once the child has ended.
    bool isRunning();

    // Blocks until the child has ended. The status is the exit code, or the
    // number of the signal that ended it (never 0 then).
    int waitForExit();

    void kill(); // SIGKILL

    // Reads both pipes at once until both are closed, so the child can never
    // stall on a full pipe. Standard output arrives in chunks; returning false
    // from the handler stops reading it (the caller then usually kills the
    // child). Standard error, if piped, is collected whole. A stop request
    // ends the reading at once, even while the child keeps its pipes open,
    // and kills the child's whole process group, so nothing it started
    // keeps running either.
    void readPipes(const std::function<bool(QByteArrayView)>& onStandardOutput,
                   QByteArray* standardError = nullptr, std::stop_token stop = {});

    // Writes all of `data` to a piped standard input; false when the child
    // no longer reads it. Never raises SIGPIPE.
    bool writeStandardInput(QByteArrayView data);

    // Reads what the child has written to its piped standard output, up to
    // `size` bytes, waiting until `deadline` at most: the count read, 0 at
    // its end, -1 when the deadline passed or a stop was requested first.
    qsizetype readStandardOutput(char* buffer, qsizetype size,
                                 std::chrono::steady_clock::time_point deadline,
                                 std::stop_token stop = {});

    // SIGKILL to the child's whole process group.
    void killGroup();

    // Convenience for short outputs: everything the child writes to its
    // standard output, with standard error collected if piped.
    QByteArray readAllStandardOutput(QByteArray* standardError = nullptr,
                                     std::stop_token stop = {});

private:
    void closePipes();
    void collect(int waitStatus);

    pid_t childPid = -1;
    int stdoutPipe = -1;
    int stderrPipe = -1;
    int stdinPipe = -1;
    std::optional<int> exitStatus;
};

// SIGKILL to every child started here and not yet reaped, for a process that
// is about to end without its workers.
void killLiveChildren();

// Sends `signal` only when `pid` is a child started here and not yet reaped,
// so a number the kernel may have handed to another process is never
// signalled. True when it was sent.
bool signalOwnChild(pid_t pid, int signal);

// Whether `pid` is a child started here and not yet reaped (it may have
// ended and await its reaping).
bool isOwnChild(pid_t pid);
