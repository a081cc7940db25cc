// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <sys/types.h>

// ffmpeg processes still alive some seconds after SIGKILL: stuck in the
// kernel in uninterruptible sleep, typically on a dying disk. The set is
// process-wide and drained before every launch, so a stuck process gets one
// more SIGKILL and is then forgotten.
void trackStuckPID(pid_t pid);

// Sends SIGKILL to every tracked process that is still our own unreaped
// child, forgets them all and waits up to killGraceSeconds for them to be
// reaped. Blocks the calling worker; writes no log line.
void killStuckPIDs();
