// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QStringList>
#include <QTemporaryFile>

#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace TestSupport {

// Sends this process's standard output (any thread's) to a file while alive,
// for checking the console lines the code under test prints.
class ConsoleCapture {
public:
    ConsoleCapture() {
        if (!file.open())
            qFatal("cannot open a console capture file");
        std::fflush(stdout);
        // Close-on-exec, or every tool started meanwhile would hold our real
        // standard output open for as long as it runs.
        saved = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 0);
        ::dup2(file.handle(), STDOUT_FILENO);
    }
    ~ConsoleCapture() { restore(); }
    ConsoleCapture(const ConsoleCapture&) = delete;
    ConsoleCapture& operator=(const ConsoleCapture&) = delete;

    // Ends the capture and returns what was printed, one entry per line.
    QStringList lines() {
        restore();
        file.seek(0);
        QStringList result = QString::fromUtf8(file.readAll()).split(u'\n');
        if (result.last().isEmpty())
            result.removeLast();
        return result;
    }

private:
    void restore() {
        if (saved < 0)
            return;
        std::fflush(stdout);
        ::dup2(saved, STDOUT_FILENO);
        ::close(saved);
        saved = -1;
    }

    QTemporaryFile file;
    int saved = -1;
};

} // namespace TestSupport
