#include "converter/ExitWatch.h"

#include <cerrno>
#include <poll.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

ExitWatch::ExitWatch(pid_t pid) {
#ifdef SYS_pidfd_open
    processFd = int(::syscall(SYS_pidfd_open, pid, 0));
#else
    (void)pid;
#endif
}

ExitWatch::~ExitWatch() {
    if (processFd >= 0)
        ::close(processFd);
}

void ExitWatch::waitUpTo(std::chrono::milliseconds limit) const {
    if (processFd < 0) {
        std::this_thread::sleep_for(limit);
        return;
    }
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return;
        pollfd watched{processFd, POLLIN, 0};
        const int ready = ::poll(&watched, 1, int(left.count()));
        if (ready > 0)
            return;
        if (ready < 0 && errno != EINTR) {
            std::this_thread::sleep_for(left);
            return;
        }
    }
}
