#pragma once

#include <QList>

#include <sys/types.h>

namespace TestSupport {

// The live (non-zombie) child processes of this test process, from /proc.
QList<pid_t> liveChildren();

} // namespace TestSupport
