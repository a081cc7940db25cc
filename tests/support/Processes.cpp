#include "Processes.h"

#include <QDir>
#include <QFile>

#include <unistd.h>

namespace {

// State and parent of a process from /proc/<pid>/stat, "pid (comm) state
// ppid ...": the command may hold spaces, so it is read after its closing
// parenthesis. Empty when there is no such process.
QList<QByteArray> stateAndParent(pid_t pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return {};
    const QByteArray line = stat.readAll();
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 2)
        return {};
    return fields.mid(0, 2);
}

} // namespace

QList<pid_t> TestSupport::liveChildren() {
    QList<pid_t> children;
    const QByteArray self = QByteArray::number(::getpid());
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString& entry : entries) {
        bool isPid = false;
        const pid_t pid = entry.toInt(&isPid);
        if (!isPid)
            continue;
        const QList<QByteArray> fields = stateAndParent(pid);
        if (!fields.isEmpty() && fields[1] == self && fields[0] != "Z")
            children.append(pid);
    }
    return children;
}

bool TestSupport::isLive(pid_t pid) {
    const QList<QByteArray> fields = stateAndParent(pid);
    return !fields.isEmpty() && fields[0] != "Z";
}
