// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QDir>
#include <QFile>

#include <unistd.h>

namespace TestSupport {

// State and parent of a process from /proc/<pid>/stat, "pid (comm) state
// ppid ...": the command may hold spaces, so it is read after its closing
// parenthesis. Empty when there is no such process.
inline QList<QByteArray> stateAndParent(pid_t pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return {};
    const QByteArray line = stat.readAll();
    return line.mid(line.lastIndexOf(')') + 2).split(' ').mid(0, 2);
}

// Whether a process exists, ended or not: only reaping removes it.
inline bool exists(pid_t pid) {
    return pid > 0 && QDir(QStringLiteral("/proc/%1").arg(pid)).exists();
}

// Whether a process exists and has not ended (a zombie has ended).
inline bool isLive(pid_t pid) {
    const QList<QByteArray> fields = stateAndParent(pid);
    return fields.size() == 2 && fields[0] != "Z";
}

// The live (non-zombie) child processes of this test process, from /proc.
// The analyser's workers are left out: once idle they wait for the next file
// by design, and the worker tests follow each of them by its id.
inline QList<pid_t> liveChildren() {
    QList<pid_t> children;
    const QByteArray self = QByteArray::number(::getpid());
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        const pid_t pid = entry.toInt();
        if (pid <= 0 || !isLive(pid) || stateAndParent(pid).value(1) != self)
            continue;
        QFile name(QStringLiteral("/proc/%1/comm").arg(pid));
        // The kernel keeps the first 15 bytes of a program's name.
        if (name.open(QIODevice::ReadOnly) && name.readAll().trimmed() != "chanfuse-analyz")
            children.append(pid);
    }
    return children;
}

} // namespace TestSupport
