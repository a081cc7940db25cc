#pragma once

#include <QList>

#include <sys/types.h>

namespace TestSupport {

// The live (non-zombie) child processes of this test process, from /proc.
QList<pid_t> liveChildren();

// Whether a process exists and has not ended (a zombie has ended).
bool isLive(pid_t pid);

} // namespace TestSupport
