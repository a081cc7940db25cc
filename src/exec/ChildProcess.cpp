// SPDX-License-Identifier: GPL-3.0-or-later

// Why not QProcess: a child must die with us however we die, and Linux
// offers that only as PR_SET_PDEATHSIG, which fires when the *thread* that
// forked exits, not the process. QProcess forks on whichever thread calls
// start(), often a worker that ends long before the ffmpeg it started, and
// needs an event loop on that thread besides. Here every fork happens on one
// spawner thread that lives as long as the process, and a child's pipes are
// read by blocking calls on the worker that supervises it.

#include "exec/ChildProcess.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <condition_variable>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <unordered_set>
#include <vector>

extern char** environ;

namespace {

// Children started and not yet reaped. A pid leaves the set in the same
// locked step that reaps it, so a pid found here is still ours: the kernel
// cannot have handed it to another process yet.
std::mutex liveChildrenLock;
std::unordered_set<pid_t> liveChildren;

void remember(pid_t pid) {
    const std::lock_guard guard(liveChildrenLock);
    liveChildren.insert(pid);
}

// Reaps the child if it has ended: its wait status, or -1 when it was not
// ours to reap. With `block`, first waits for it to end without reaping, so
// the lock is never held while waiting.
std::optional<int> reap(pid_t pid, bool block) {
    for (;;) {
        if (block) {
            siginfo_t info{};
            while (::waitid(P_PID, id_t(pid), &info, WEXITED | WNOWAIT) != 0 && errno == EINTR) {
            }
        }
        {
            const std::lock_guard guard(liveChildrenLock);
            int status = 0;
            pid_t result;
            while ((result = ::waitpid(pid, &status, WNOHANG)) < 0 && errno == EINTR) {
            }
            if (result != 0) {
                liveChildren.erase(pid);
                return result < 0 ? -1 : status;
            }
        }
        if (!block)
            return std::nullopt;
    }
}

void closeQuietly(int& fd) {
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

// Everything the child needs between fork and exec, prepared beforehand: a
// child of a threaded process may only make async-signal-safe calls.
struct ChildSetup {
    const char* path = nullptr;
    char* const* argv = nullptr;
    char* const* envp = nullptr;
    int streams[3] = {-1, -1, -1}; // what becomes standard input, output, error
    int errorReport = -1;          // write end: errno of a failed step, then exit
    int descriptorLimit = 0;       // for kernels without close_range
    pid_t parent = 0;
};

[[noreturn]] void failInChild(int errorReport) {
    const int error = errno;
    [[maybe_unused]] const ssize_t written = ::write(errorReport, &error, sizeof error);
    ::_exit(127);
}

void closeAllBut(int kept, int limit) {
    const auto closeRange = [limit](unsigned first, unsigned last) {
        if (first > last)
            return;
        if (::close_range(first, last, 0) == 0)
            return;
        for (int fd = int(first); fd < limit && fd <= int(qMin(last, unsigned(INT_MAX))); ++fd)
            ::close(fd);
    };
    closeRange(STDERR_FILENO + 1, unsigned(kept) - 1);
    closeRange(unsigned(kept) + 1, ~0U);
}

[[noreturn]] void becomeChild(const ChildSetup& setup) {
    // Dies with us: the death signal follows the thread that forked, which is
    // why every fork happens on the one spawner thread that lives as long as
    // the process. If we died before the signal was armed, give up now.
    if (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || ::getppid() != setup.parent)
        ::_exit(127);
    for (int signal = 1; signal < NSIG; ++signal) {
        if (signal == SIGKILL || signal == SIGSTOP)
            continue;
        struct sigaction action {};
        action.sa_handler = SIG_DFL;
        ::sigaction(signal, &action, nullptr); // glibc's own signals refuse; harmless
    }
    // Everything is moved above 2 first, so wiring one standard stream cannot
    // clobber the source of another, nor the report.
    const int report = ::fcntl(setup.errorReport, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    if (report < 0)
        ::_exit(127);
    // Our own process group: a Ctrl-C meant for us does not reach the child.
    if (::setpgid(0, 0) != 0)
        failInChild(report);
    int moved[3];
    for (int stream = 0; stream < 3; ++stream) {
        moved[stream] = ::fcntl(setup.streams[stream], F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
        if (moved[stream] < 0)
            failInChild(report);
    }
    for (int stream = 0; stream < 3; ++stream) {
        if (::dup2(moved[stream], stream) < 0)
            failInChild(report);
    }
    closeAllBut(report, setup.descriptorLimit);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::execve(setup.path, setup.argv, setup.envp);
    failInChild(report);
}

// One thread that lives until the process ends and makes every fork.
class Spawner {
public:
    static Spawner& instance() {
        // Never destroyed: the thread must outlive every static destructor.
        static Spawner* const spawner = new Spawner;
        return *spawner;
    }

    // The forked child's pid, or -1 with errno set.
    pid_t fork(const ChildSetup& setup) {
        Request request{&setup};
        std::unique_lock guard(lock);
        pending.push_back(&request);
        work.notify_one();
        done.wait(guard, [&request] { return request.finished; });
        errno = request.error;
        return request.pid;
    }

private:
    struct Request {
        const ChildSetup* setup;
        pid_t pid = -1;
        int error = 0;
        bool finished = false;
    };

    Spawner() {
        std::thread([this] { run(); }).detach();
    }

    void run() {
        sigset_t all;
        sigfillset(&all);
        for (;;) {
            std::unique_lock guard(lock);
            work.wait(guard, [this] { return !pending.empty(); });
            Request* request = pending.front();
            pending.erase(pending.begin());
            // No handler of ours may run in the child before it resets them.
            sigset_t previous;
            ::pthread_sigmask(SIG_SETMASK, &all, &previous);
            const pid_t pid = ::fork();
            if (pid == 0)
                becomeChild(*request->setup);
            request->error = errno;
            ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
            request->pid = pid;
            if (pid > 0)
                remember(pid);
            request->finished = true;
            done.notify_all();
        }
    }

    std::mutex lock;
    std::condition_variable work;
    std::condition_variable done;
    std::vector<Request*> pending;
};

// The descriptor that becomes one standard stream of the child, and for a
// pipe our own end of it (else -1). False when a pipe could not be made.
bool wire(ChildProcess::Output output, int nullDevice, int& childEnd, int& ourEnd) {
    ourEnd = -1;
    switch (output.kind) {
    case ChildProcess::Output::Kind::null:
        childEnd = nullDevice;
        return true;
    case ChildProcess::Output::Kind::file:
        childEnd = output.fileDescriptor;
        return true;
    case ChildProcess::Output::Kind::pipe: {
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC) != 0)
            return false;
        childEnd = ends[1];
        ourEnd = ends[0];
        return true;
    }
    }
    return false;
}

} // namespace

ChildProcess::~ChildProcess() {
    closePipes();
    if (childPid <= 0 || exitStatus)
        return;
    if (reap(childPid, false))
        return;
    // Still running (perhaps stuck in the kernel): never wait for it here.
    std::thread([pid = childPid] { reap(pid, true); }).detach();
}

std::optional<QString> ChildProcess::start(const QString& program, const QStringList& arguments,
                                           Output standardOutput, Output standardError,
                                           Input standardInput) {
    const QByteArray path = program.toLocal8Bit();
    std::vector<QByteArray> encoded;
    encoded.reserve(std::size_t(arguments.size()) + 1);
    encoded.push_back(path);
    for (const QString& argument : arguments)
        encoded.push_back(argument.toLocal8Bit());
    std::vector<char*> argv;
    for (QByteArray& argument : encoded)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    std::vector<int> ours; // closed on every way out
    const auto failure = [&](int error) {
        for (int fd : ours)
            ::close(fd);
        stdoutPipe = stderrPipe = stdinPipe = -1;
        childPid = -1;
        return QStringLiteral("Could not start %1: %2")
            .arg(program, QString::fromLocal8Bit(std::strerror(error)));
    };
    const int nullInput = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    const int nullOutput = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    ours.insert(ours.end(), {nullInput, nullOutput});
    int report[2];
    if (nullInput < 0 || nullOutput < 0 || ::pipe2(report, O_CLOEXEC) != 0)
        return failure(errno);
    ours.insert(ours.end(), {report[0], report[1]});

    int input[2] = {-1, -1};
    if (standardInput == Input::pipe) {
        if (::pipe2(input, O_CLOEXEC) != 0)
            return failure(errno);
        ours.insert(ours.end(), {input[0], input[1]});
    }

    ChildSetup setup;
    setup.path = path.constData();
    setup.argv = argv.data();
    setup.envp = environ;
    setup.streams[0] = input[0] >= 0 ? input[0] : nullInput;
    setup.errorReport = report[1];
    setup.parent = ::getpid();
    rlimit limit{};
    setup.descriptorLimit = ::getrlimit(RLIMIT_NOFILE, &limit) == 0 &&
                                    limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur < INT_MAX
                                ? int(limit.rlim_cur)
                                : 65536;
    int childEnds[2] = {-1, -1};
    int ourEnds[2] = {-1, -1};
    const Output outputs[2] = {standardOutput, standardError};
    for (int stream = 0; stream < 2; ++stream) {
        if (!wire(outputs[stream], nullOutput, setup.streams[stream + 1], ourEnds[stream]))
            return failure(errno);
        if (ourEnds[stream] >= 0) {
            childEnds[stream] = setup.streams[stream + 1];
            ours.insert(ours.end(), {ourEnds[stream], childEnds[stream]});
        }
    }

    const pid_t pid = Spawner::instance().fork(setup);
    if (pid < 0)
        return failure(errno);
    childPid = pid;
    ::close(report[1]);
    int error = 0;
    ssize_t got;
    while ((got = ::read(report[0], &error, sizeof error)) < 0 && errno == EINTR) {
    }
    ::close(report[0]);
    ::close(nullInput);
    ::close(nullOutput);
    for (int fd : childEnds)
        if (fd >= 0)
            ::close(fd);
    if (input[0] >= 0)
        ::close(input[0]);
    stdoutPipe = ourEnds[0];
    stderrPipe = ourEnds[1];
    stdinPipe = input[1];
    if (got == sizeof error) {
        // The child never became the program; it has already exited.
        reap(pid, true);
        closePipes();
        childPid = -1;
        return QStringLiteral("Could not start %1: %2")
            .arg(program, QString::fromLocal8Bit(std::strerror(error)));
    }
    return std::nullopt;
}

void ChildProcess::collect(int waitStatus) {
    if (waitStatus == -1)
        exitStatus = -1;
    else if (WIFEXITED(waitStatus))
        exitStatus = WEXITSTATUS(waitStatus);
    else if (WIFSIGNALED(waitStatus))
        exitStatus = WTERMSIG(waitStatus);
    else
        exitStatus = -1;
}

bool ChildProcess::isRunning() {
    if (childPid <= 0 || exitStatus)
        return false;
    const std::optional<int> status = reap(childPid, false);
    if (!status)
        return true;
    collect(*status);
    return false;
}

int ChildProcess::waitForExit() {
    if (childPid <= 0)
        return -1;
    if (!exitStatus)
        collect(*reap(childPid, true));
    return *exitStatus;
}

void ChildProcess::kill() {
    if (childPid > 0 && !exitStatus)
        ::kill(childPid, SIGKILL);
}

// Called on the thread that reaps the child: until the leader is reaped, its
// identifier names this group alone.
void ChildProcess::killGroup() {
    if (childPid > 0 && !exitStatus)
        ::kill(-childPid, SIGKILL);
}

void ChildProcess::readPipes(const std::function<bool(QByteArrayView)>& onStandardOutput,
                             QByteArray* standardError, std::stop_token stop) {
    // The stop request wakes the poll through an event counter.
    struct StopEvent {
        int fd = -1;
        ~StopEvent() { closeQuietly(fd); }
    } stopEvent;
    if (stop.stop_possible())
        stopEvent.fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    const std::stop_callback wake(stop, [fd = stopEvent.fd] {
        if (fd >= 0)
            ::eventfd_write(fd, 1);
    });

    char buffer[64 * 1024];
    while ((stdoutPipe >= 0 || stderrPipe >= 0) && !stop.stop_requested()) {
        pollfd watched[3];
        int count = 0;
        if (stdoutPipe >= 0)
            watched[count++] = {stdoutPipe, POLLIN, 0};
        if (stderrPipe >= 0)
            watched[count++] = {stderrPipe, POLLIN, 0};
        const int pipes = count;
        if (stopEvent.fd >= 0)
            watched[count++] = {stopEvent.fd, POLLIN, 0};
        if (::poll(watched, nfds_t(count), -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        for (int i = 0; i < pipes; ++i) {
            if (!(watched[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            const bool isOutput = watched[i].fd == stdoutPipe;
            const ssize_t got = ::read(watched[i].fd, buffer, sizeof buffer);
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0) {
                closeQuietly(isOutput ? stdoutPipe : stderrPipe);
                continue;
            }
            if (isOutput) {
                if (!onStandardOutput(QByteArrayView(buffer, got)))
                    closeQuietly(stdoutPipe);
            } else if (standardError) {
                standardError->append(buffer, got);
            }
        }
    }
    if (stop.stop_requested())
        killGroup();
}

QByteArray ChildProcess::readAllStandardOutput(QByteArray* standardError, std::stop_token stop) {
    QByteArray output;
    readPipes(
        [&output](QByteArrayView chunk) {
            output.append(chunk);
            return true;
        },
        standardError, stop);
    return output;
}

bool ChildProcess::writeStandardInput(QByteArrayView data) {
    // A child that died leaves a pipe without reader; the signal that write
    // raises then is blocked here and taken back, so only EPIPE remains.
    sigset_t pipeSignal;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    sigset_t previous;
    ::pthread_sigmask(SIG_BLOCK, &pipeSignal, &previous);
    qsizetype done = 0;
    while (stdinPipe >= 0 && done < data.size()) {
        const ssize_t written = ::write(stdinPipe, data.data() + done, size_t(data.size() - done));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            break;
        done += written;
    }
    if (done < data.size()) {
        const timespec now{};
        while (::sigtimedwait(&pipeSignal, nullptr, &now) < 0 && errno == EINTR) {
        }
    }
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return done == data.size();
}

qsizetype ChildProcess::readStandardOutput(char* buffer, qsizetype size,
                                           std::chrono::steady_clock::time_point deadline,
                                           std::stop_token stop) {
    using namespace std::chrono;
    while (stdoutPipe >= 0 && !stop.stop_requested()) {
        const auto left = duration_cast<milliseconds>(deadline - steady_clock::now()).count();
        if (left <= 0)
            return -1;
        // Short waits, so a stop request is seen within a tenth of a second.
        pollfd watched{stdoutPipe, POLLIN, 0};
        const int ready = ::poll(&watched, 1, int(std::min<long long>(left, 100)));
        if (ready < 0 && errno != EINTR)
            return 0;
        if (ready <= 0)
            continue;
        const ssize_t got = ::read(stdoutPipe, buffer, size_t(size));
        if (got < 0 && errno == EINTR)
            continue;
        return got < 0 ? 0 : got;
    }
    return stdoutPipe >= 0 ? -1 : 0;
}

void ChildProcess::closePipes() {
    closeQuietly(stdinPipe);
    closeQuietly(stdoutPipe);
    closeQuietly(stderrPipe);
}

void killLiveChildren() {
    const std::lock_guard guard(liveChildrenLock);
    for (const pid_t pid : liveChildren)
        ::kill(pid, SIGKILL);
}

bool signalOwnChild(pid_t pid, int signal) {
    const std::lock_guard guard(liveChildrenLock);
    return liveChildren.contains(pid) && ::kill(pid, signal) == 0;
}

bool isOwnChild(pid_t pid) {
    const std::lock_guard guard(liveChildrenLock);
    return liveChildren.contains(pid);
}
