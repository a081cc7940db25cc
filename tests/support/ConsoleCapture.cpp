#include "ConsoleCapture.h"

#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

TestSupport::ConsoleCapture::ConsoleCapture() {
    if (!file.open())
        qFatal("cannot open a console capture file");
    std::fflush(stdout);
    // Close-on-exec, or every tool started meanwhile would hold our real
    // standard output open for as long as it runs.
    saved = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 0);
    ::dup2(file.handle(), STDOUT_FILENO);
}

TestSupport::ConsoleCapture::~ConsoleCapture() {
    restore();
}

QStringList TestSupport::ConsoleCapture::lines() {
    restore();
    file.seek(0);
    QStringList result = QString::fromUtf8(file.readAll()).split(u'\n');
    if (result.last().isEmpty())
        result.removeLast();
    return result;
}

void TestSupport::ConsoleCapture::restore() {
    if (saved < 0)
        return;
    std::fflush(stdout);
    ::dup2(saved, STDOUT_FILENO);
    ::close(saved);
    saved = -1;
}
