// SPDX-License-Identifier: GPL-3.0-or-later

#include "viewmodel/LogFile.h"

#include "exec/SerialQueue.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <condition_variable>
#include <mutex>

namespace {

// Drops the zone field ('t' outside quoted literals) from a time format.
QString withoutTimeZone(const QString& format) {
    QString kept;
    bool quoted = false;
    for (const QChar character : format) {
        if (character == u'\'')
            quoted = !quoted;
        if (!quoted && character == u't')
            continue;
        kept.append(character);
    }
    return kept.simplified();
}

// Lines waiting for the log queue. A write already queued takes every line
// that arrives before it runs, so a burst costs one open of the file.
std::mutex pendingLock;
QByteArray pendingText;
bool writeQueued = false;
bool writing = false;
std::condition_variable allWritten;

SerialQueue& logQueue() {
    static SerialQueue* const queue = new SerialQueue(QStringLiteral("sonfold.log"));
    return *queue;
}

void writePending() {
    QByteArray text;
    {
        const std::lock_guard lock(pendingLock);
        text.swap(pendingText);
        writeQueued = false;
        writing = true;
    }
    const QString path = logFilePath();
    if (!path.isEmpty())
        appendToLogFile(path, text, logFileRotationBytes);
    const std::lock_guard lock(pendingLock);
    writing = false;
    if (!writeQueued)
        allWritten.notify_all();
}

} // namespace

QString logTimestamp(const QTime& time, const QLocale& locale) {
    return locale.toString(time, withoutTimeZone(locale.timeFormat(QLocale::LongFormat)));
}

QString logFilePath() {
    const QString dataFolder =
        QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (dataFolder.isEmpty())
        return {};
    return dataFolder + QStringLiteral("/Chanfuse/debug.log");
}

void persistLog(const QString& line) {
    const std::lock_guard lock(pendingLock);
    pendingText += (line + u'\n').toUtf8();
    if (writeQueued)
        return;
    writeQueued = true;
    logQueue().submit(writePending);
}

void flushLogFile(std::chrono::milliseconds limit) {
    std::unique_lock lock(pendingLock);
    allWritten.wait_for(lock, limit, [] { return !writeQueued && !writing; });
}

void appendToLogFile(const QString& path, const QByteArray& text, qint64 rotationBytes) {
    QDir().mkpath(QFileInfo(path).path());
    const qint64 size = QFileInfo(path).size();
    if (size > 0 && size + text.size() > rotationBytes) {
        const QString previous = path + QStringLiteral(".1");
        QFile::remove(previous);
        QFile::rename(path, previous);
    }
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Append))
        file.write(text);
}
