#pragma once

#include "FakeTools.h"
#include "TestAudio.h"
#include "model/Settings.h"
#include "viewmodel/ContentViewModel.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>

// Folders of fake stereo files scanned into a view model, and an ffmpeg that
// fails or hangs on the conversion of chosen files. The files are FLAC, whose
// identical channels cost almost nothing: the space a conversion saves is then
// far from the size of its output, so the two cannot be confused unseen.
class ConversionFixture {
public:
    ConversionFixture() {
        if (!root.isValid())
            qFatal("no temporary folder");
        TestAudio::fakeStereo(fakeTemplate, 0.5);
    }

    // Back to default conversion settings and no markers.
    void reset() {
        QDir(control).removeRecursively();
        QDir().mkpath(control);
        Settings& settings = Settings::shared();
        settings.setParallelScans(3);
        settings.setAutoSelectAll(false);
        settings.setAppendFilename(true);
        settings.setSuffix(QStringLiteral("_MONO"));
        settings.setConvertBehavior(ConvertBehavior::trash);
        settings.setConvertTimeoutSeconds(60);
    }

    // The real ffmpeg, except that converting the file named X fails when
    // control/fail-X exists, and hangs (after creating control/started-X)
    // when control/hang-X exists. Decoding for the scan is never affected.
    void install(FakeTools& tools) const {
        tools.realTool(QStringLiteral("ffprobe"));
        tools.script(
            QStringLiteral("ffmpeg"),
            QStringLiteral(
                "input=''; previous=''\n"
                "for argument in \"$@\"; do\n"
                "  [ \"$previous\" = -i ] && input=\"$argument\"; previous=\"$argument\"\n"
                "done\n"
                "name=$(basename \"$input\")\n"
                "case \"$*\" in *'-ac 1'*)\n"
                "  if [ -e '%1'/fail-\"$name\" ]; then\n"
                "    echo \"$name: Invalid data found when processing input\" >&2; exit 1\n"
                "  fi\n"
                "  if [ -e '%1'/hang-\"$name\" ]; then touch '%1'/started-\"$name\"; exec sleep "
                "30; fi;;\n"
                "esac\n"
                "exec /usr/bin/ffmpeg \"$@\"")
                .arg(control));
    }

    // A fresh folder of `count` fake stereo files, scanned by `model`; the
    // scan's end selects them all. Items are listed in the order their
    // analyses began, which a conversion run follows.
    QString scannedFolder(ContentViewModel& model, int count = 3) {
        const QString folder = root.filePath(QStringLiteral("run%1").arg(++folders));
        QDir().mkpath(folder);
        for (int index = 0; index < count; ++index)
            QFile::copy(fakeTemplate, folder + QStringLiteral("/take%1.flac").arg(index + 1));
        QSignalSpy finished(&model, &ContentViewModel::scanFinished);
        model.startScanFolders({QUrl::fromLocalFile(folder)});
        if (!finished.wait(60000) || model.items().size() != count)
            qFatal("the scan did not finish");
        return folder;
    }

    void mark(const QString& what, const FileItemPtr& item) const {
        QFile file(markerPath(what, item));
        if (!file.open(QIODevice::WriteOnly))
            qFatal("cannot write a marker");
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
