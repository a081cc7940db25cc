#pragma once

#include <chrono>
#include <sys/types.h>

// Waits for a child to end without reaping it, so the supervisor's polls
// return as soon as ffmpeg exits instead of at the next 0.1 s tick. Where the
// kernel offers no process file descriptor, a wait simply sleeps its limit.
class ExitWatch {
public:
    explicit ExitWatch(pid_t pid);
    ExitWatch(const ExitWatch&) = delete;
    ExitWatch& operator=(const ExitWatch&) = delete;
    ~ExitWatch();

    // Returns after `limit`, or earlier when the child has ended.
    void waitUpTo(std::chrono::milliseconds limit) const;

private:
    int processFd = -1;
};
