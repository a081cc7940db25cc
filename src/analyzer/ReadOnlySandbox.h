// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <cstdint>
#include <string>

// Confines the calling process before it reads anything a stranger made:
// no new privileges, no writing, creating, removing or renaming of files, no
// running programs and no sockets (a seccomp filter, and Landlock on kernels
// that have it), and a cap on the address space. Returns an error text when
// a step failed; the analyser then refuses to serve.
std::string enterReadOnlySandbox();

// Lets the process spend at most `seconds` more of processor time, so a
// decoder caught in a loop is ended by the kernel even if nobody watches.
void limitProcessorTime(int64_t seconds);
