#include "exec/ChildProcess.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <spawn.h>
#include <sys/eventfd.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <unordered_set>
#include <vector>

extern char** environ;

namespace {

struct SpawnActions {
    posix_spawn_file_actions_t actions;
    SpawnActions() { posix_spawn_file_actions_init(&actions); }
    ~SpawnActions() { posix_spawn_file_actions_destroy(&actions); }
};

struct SpawnAttributes {
    posix_spawnattr_t attributes;
    SpawnAttributes() { posix_spawnattr_init(&attributes); }
    ~SpawnAttributes() { posix_spawnattr_destroy(&attributes); }
};

// Children started and not yet reaped, for killLiveChildren.
std::mutex liveChildrenLock;
std::unordered_set<pid_t> liveChildren;

void remember(pid_t pid) {
    const std::lock_guard guard(liveChildrenLock);
    liveChildren.insert(pid);
}

void forget(pid_t pid) {
    const std::lock_guard guard(liveChildrenLock);
    liveChildren.erase(pid);
}

void closeQuietly(int& fd) {
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

// Wires one standard stream of the child; returns our end of a pipe, or -1.
int wire(posix_spawn_file_actions_t* actions, int target, ChildProcess::Output output,
         std::vector<int>& childEnds) {
    switch (output.kind) {
    case ChildProcess::Output::Kind::null:
        posix_spawn_file_actions_addopen(actions, target, "/dev/null", O_WRONLY, 0);
        return -1;
    case ChildProcess::Output::Kind::file:
        posix_spawn_file_actions_adddup2(actions, output.fileDescriptor, target);
        return -1;
    case ChildProcess::Output::Kind::pipe: {
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC) != 0)
            return -2;
        posix_spawn_file_actions_adddup2(actions, ends[1], target);
        childEnds.push_back(ends[1]);
        return ends[0];
    }
    }
    return -1;
}

} // namespace

ChildProcess::~ChildProcess() {
    closePipes();
    if (childPid <= 0 || exitStatus)
        return;
    int status = 0;
    if (::waitpid(childPid, &status, WNOHANG) == childPid) {
        forget(childPid);
        return;
    }
    // Still running (perhaps stuck in the kernel): never wait for it here.
    std::thread([pid = childPid] {
        int ignored = 0;
        while (::waitpid(pid, &ignored, 0) < 0 && errno == EINTR) {
        }
        forget(pid);
    }).detach();
}

std::optional<QString> ChildProcess::start(const QString& program, const QStringList& arguments,
                                           Output standardOutput, Output standardError) {
    SpawnActions files;
    std::vector<int> childEnds;
    posix_spawn_file_actions_addopen(&files.actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    stdoutPipe = wire(&files.actions, STDOUT_FILENO, standardOutput, childEnds);
    stderrPipe = wire(&files.actions, STDERR_FILENO, standardError, childEnds);
    // Nothing of ours beyond the three streams: an inherited pipe end would
    // keep a reader waiting for the end of a stream until the tool exits.
    posix_spawn_file_actions_addclosefrom_np(&files.actions, STDERR_FILENO + 1);
    if (stdoutPipe == -2 || stderrPipe == -2) {
        const QString message = QString::fromLocal8Bit(std::strerror(errno));
        for (int fd : childEnds)
            ::close(fd);
        stdoutPipe = stdoutPipe == -2 ? -1 : stdoutPipe;
        stderrPipe = stderrPipe == -2 ? -1 : stderrPipe;
        closePipes();
        return message;
    }

    SpawnAttributes attributes;
    sigset_t none;
    sigemptyset(&none);
    sigset_t defaults;
    sigemptyset(&defaults);
    for (int signal : {SIGPIPE, SIGINT, SIGTERM, SIGHUP, SIGQUIT})
        sigaddset(&defaults, signal);
    posix_spawnattr_setsigmask(&attributes.attributes, &none);
    posix_spawnattr_setsigdefault(&attributes.attributes, &defaults);
    posix_spawnattr_setpgroup(&attributes.attributes, 0);
    posix_spawnattr_setflags(&attributes.attributes, POSIX_SPAWN_SETSIGMASK |
                                                         POSIX_SPAWN_SETSIGDEF |
                                                         POSIX_SPAWN_SETPGROUP);

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

    const int result = ::posix_spawn(&childPid, path.constData(), &files.actions,
                                     &attributes.attributes, argv.data(), environ);
    for (int fd : childEnds)
        ::close(fd);
    if (result != 0) {
        childPid = -1;
        closePipes();
        return QStringLiteral("Could not start %1: %2")
            .arg(program, QString::fromLocal8Bit(std::strerror(result)));
    }
    remember(childPid);
    return std::nullopt;
}

void ChildProcess::collect(int waitStatus) {
    forget(childPid);
    if (WIFEXITED(waitStatus))
        exitStatus = WEXITSTATUS(waitStatus);
    else if (WIFSIGNALED(waitStatus))
        exitStatus = WTERMSIG(waitStatus);
    else
        exitStatus = -1;
}

bool ChildProcess::isRunning() {
    if (childPid <= 0 || exitStatus)
        return false;
    int status = 0;
    const pid_t result = ::waitpid(childPid, &status, WNOHANG);
    if (result == childPid) {
        collect(status);
        return false;
    }
    return result == 0;
}

int ChildProcess::waitForExit() {
    if (childPid <= 0)
        return -1;
    while (!exitStatus) {
        int status = 0;
        const pid_t result = ::waitpid(childPid, &status, 0);
        if (result == childPid)
            collect(status);
        else if (result < 0 && errno != EINTR) {
            forget(childPid);
            exitStatus = -1;
        }
    }
    return *exitStatus;
}

void ChildProcess::terminate() {
    if (childPid > 0 && !exitStatus)
        ::kill(childPid, SIGTERM);
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

void ChildProcess::closePipes() {
    closeQuietly(stdoutPipe);
    closeQuietly(stderrPipe);
}

void killLiveChildren() {
    const std::lock_guard guard(liveChildrenLock);
    for (const pid_t pid : liveChildren)
        ::kill(pid, SIGKILL);
}

bool processExists(pid_t pid) {
    return pid > 0 && ::kill(pid, 0) == 0;
}
