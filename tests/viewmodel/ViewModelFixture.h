// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "FakeTools.h"
#include "TestAudio.h"
#include "TestFiles.h"
#include "model/Settings.h"
#include "viewmodel/ContentViewModel.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>

// The view model's log lines without their "[time] " prefix, so tests can
// compare the messages word for word.
inline QString messageOf(const QString& entry) {
    return entry.mid(entry.indexOf(QStringLiteral("] ")) + 2);
}

inline QStringList messages(const ContentViewModel& model) {
    QStringList result;
    for (const QString& entry : model.debugLog())
        result.append(messageOf(entry));
    return result;
}

// Folders of fake stereo files scanned into a view model, and an ffmpeg that
// fails or hangs on the conversion of chosen files. The files are FLAC, whose
// identical channels cost almost nothing: the space a conversion saves is then
// far from the size of its output, so the two cannot be confused unseen.
class ConversionFixture {
public:
    ConversionFixture() { TestAudio::fakeStereo(fakeTemplate, 0.5); }

    // Back to the settings the tests assume, and no markers. A scan ticks
    // its fake stereo rows.
    void reset() {
        QDir(control).removeRecursively();
        QDir().mkpath(control);
        Settings::shared().setParallelScans(3);
        Settings::shared().setAutoSelectAll(true);
        Settings::shared().setLastFolder(QString());
        Settings::shared().setConvertTimeoutSeconds(60);
    }

    // The real tools, except that converting the file named X fails when
    // control/fail-X exists, and hangs (after creating control/started-X)
    // when control/hang-X exists.
    void install(FakeTools& tools) const {
        tools.conversionScript(
            QStringLiteral(
                "in=''; previous=''\n"
                "for argument; do\n"
                "  [ \"$previous\" = -i ] && in=$argument; previous=$argument\n"
                "done\n"
                "name=$(basename \"$in\")\n"
                "if [ -e '%1'/fail-\"$name\" ]; then\n"
                "  echo \"$name: Invalid data found when processing input\" >&2; exit 1\n"
                "fi\n"
                "[ -e '%1'/hang-\"$name\" ] && touch '%1'/started-\"$name\" && exec sleep 30\n"
                "exec /usr/bin/ffmpeg \"$@\"")
                .arg(control));
    }

    // Scans a fresh folder of `count` fake stereo files into `model`, all
    // ticked. Items are listed in the order their
    // analyses began, which a conversion run follows.
    void scanFolder(ContentViewModel& model, int count = 3) {
        const QString folder = root.filePath(QStringLiteral("run%1").arg(++folders));
        QDir().mkpath(folder);
        for (int index = 0; index < count; ++index)
            QFile::copy(fakeTemplate, folder + QStringLiteral("/take%1.flac").arg(index + 1));
        QSignalSpy finished(&model, &ContentViewModel::scanFinished);
        model.startScanFolders({QUrl::fromLocalFile(folder)});
        if (!finished.wait(60000) || model.items().size() != count)
            qFatal("the scan did not finish");
    }

    void mark(const QString& what, const FileItemPtr& item) const {
        TestFiles::writeFile(markerPath(what, item), {});
    }

    QString markerPath(const QString& what, const FileItemPtr& item) const {
        return control + u'/' + what + u'-' + item->fileName + QStringLiteral(".flac");
    }

private:
    QTemporaryDir root;
    const QString control = root.filePath(QStringLiteral("control"));
    const QString fakeTemplate = root.filePath(QStringLiteral("template.flac"));
    int folders = 0;
};
