// SPDX-License-Identifier: GPL-3.0-or-later

#include "ConsoleStreams.h"

#include <fcntl.h>
#include <unistd.h>

std::FILE* divertCoreConsoleOutput(bool verbose) {
    std::fflush(stdout);
    // Close-on-exec, so ffmpeg and ffprobe never inherit the results stream.
    const int results = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
    const int echo = verbose ? fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3)
                             : open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (echo >= 0) {
        dup2(echo, STDOUT_FILENO);
        close(echo);
    }
    std::FILE* stream = results >= 0 ? fdopen(results, "w") : nullptr;
    return stream ? stream : stdout;
}

void writeLine(std::FILE* stream, const QString& line) {
    std::fputs((line + u'\n').toUtf8().constData(), stream);
    std::fflush(stream);
}
