#pragma once

#include <QList>

#include <sys/types.h>

// ffmpeg processes still alive 3 s after SIGKILL (typically stuck in the
// kernel on a dying disk). The set is process-wide and drained before every
// launch, so a stuck process gets one more SIGKILL and is then forgotten.
void trackStuckPID(pid_t pid);

// Sends SIGKILL to every tracked process that is still our own unreaped
// child, forgets them all and waits up to 3 s for them to be reaped. Blocks
// the calling worker; writes no log line.
void killStuckPIDs();

// The identifiers tracked right now.
QList<pid_t> stuckPIDs();
