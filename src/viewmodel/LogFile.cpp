#include "viewmodel/LogFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

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
    const QString path = logFilePath();
    if (path.isEmpty())
        return;
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        return;
    file.write((line + u'\n').toUtf8());
}
