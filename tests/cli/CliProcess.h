#pragma once

#include <QByteArray>
#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QSettings>
#include <QStringList>
#include <QTest>

// Runs the built chanfuse-cli as a child process. It inherits the test's
// environment, so it reads the isolated settings and data folders.
namespace CliProcess {

struct Result {
    int exitCode = -1;
    QString out;
    QString err;

    QStringList outLines() const { return out.split(u'\n', Qt::SkipEmptyParts); }
};

inline QProcessEnvironment environment(const QString& ffmpeg = {}) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("CHANFUSE_FFMPEG"));
    if (!ffmpeg.isEmpty())
        environment.insert(QStringLiteral("CHANFUSE_FFMPEG"), ffmpeg);
    return environment;
}

inline void start(QProcess& process, const QStringList& arguments, const QString& ffmpeg = {}) {
    process.setProcessEnvironment(environment(ffmpeg));
    process.setStandardInputFile(QProcess::nullDevice());
    process.start(QStringLiteral(CHANFUSE_CLI), arguments);
    if (!process.waitForStarted())
        qFatal("chanfuse-cli did not start");
}

inline Result finish(QProcess& process) {
    if (!process.waitForFinished(120000))
        qFatal("chanfuse-cli did not finish");
    Result result;
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = QString::fromUtf8(process.readAllStandardOutput());
    result.err = QString::fromUtf8(process.readAllStandardError());
    return result;
}

inline Result run(const QStringList& arguments, const QString& ffmpeg = {}) {
    QProcess process;
    start(process, arguments, ffmpeg);
    return finish(process);
}

// The settings file the child reads: the store of the Chanfuse window.
inline QString settingsFile() {
    return qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/Chanfuse/Chanfuse.conf");
}

inline void storeSetting(const QString& key, const QVariant& value) {
    QSettings store(settingsFile(), QSettings::IniFormat);
    store.setValue(key, value);
    store.sync();
}

inline QByteArray fileContents(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Every file below `folder` (relative path) with a hash of its bytes.
inline QMap<QString, QByteArray> contentsBelow(const QString& folder) {
    QMap<QString, QByteArray> contents;
    QDirIterator walk(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (walk.hasNext()) {
        const QString path = walk.next();
        contents.insert(QDir(folder).relativeFilePath(path),
                        QCryptographicHash::hash(fileContents(path), QCryptographicHash::Sha256));
    }
    return contents;
}

} // namespace CliProcess
