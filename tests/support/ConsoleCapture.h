#pragma once

#include <QStringList>
#include <QTemporaryFile>

namespace TestSupport {

// Sends this process's standard output (any thread's) to a file while alive,
// for checking the console lines the code under test prints.
class ConsoleCapture {
public:
    ConsoleCapture();
    ~ConsoleCapture();
    ConsoleCapture(const ConsoleCapture&) = delete;
    ConsoleCapture& operator=(const ConsoleCapture&) = delete;

    // Ends the capture and returns what was printed, one entry per line.
    QStringList lines();

private:
    void restore();

    QTemporaryFile file;
    int saved = -1;
};

} // namespace TestSupport
