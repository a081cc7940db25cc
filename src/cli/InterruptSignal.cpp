#include "InterruptSignal.h"

#include <cerrno>
#include <csignal>

#include <fcntl.h>
#include <unistd.h>

namespace {

int interruptPipe[2] = {-1, -1};

// A terminal's Ctrl-C, a kill or timeout(1), a closed terminal: each gets the
// same careful stop, since dying mid-step could leave an original half
// replaced.
constexpr int interruptions[] = {SIGINT, SIGTERM, SIGHUP};

void onInterruption(int) {
    const int savedErrno = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = write(interruptPipe[1], &byte, 1);
    errno = savedErrno;
}

void installHandler(void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int interruption : interruptions)
        sigaction(interruption, &action, nullptr);
}

} // namespace

InterruptSignal::InterruptSignal(QObject* parent) : QObject(parent) {
    if (pipe2(interruptPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    notifier = new QSocketNotifier(interruptPipe[0], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &InterruptSignal::drain);
    installHandler(onInterruption);
}

InterruptSignal::~InterruptSignal() {
    if (!notifier)
        return;
    installHandler(SIG_DFL);
    delete notifier;
    close(interruptPipe[0]);
    close(interruptPipe[1]);
}

void InterruptSignal::drain() {
    char bytes[16];
    ssize_t count;
    while ((count = read(interruptPipe[0], bytes, sizeof bytes)) > 0) {
        for (ssize_t index = 0; index < count; ++index)
            emit interrupted();
    }
}
