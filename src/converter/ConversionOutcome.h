// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "model/FileItem.h"

#include <QString>
#include <QUrl>

// How one conversion ended. The kind alone decides what the row shows; the
// text only explains it to the user and is never read back.
struct ConversionOutcome {
    enum class Kind {
        // The mono file is under its final name, the original disposed of.
        converted,
        // The whole file proved the scan wrong: it is real stereo.
        channelsDiffer,
        // Left as it was because something of it could not be carried over,
        // or its final name is taken.
        refused,
        // Left alone on purpose: another run holds it, or it changed since
        // the scan.
        skipped,
        timedOut,
        failed,
        // A stop: nothing of the user's has changed.
        cancelled,
    };

    Kind kind = Kind::failed;
    QString text;
    qint64 originalSize = 0;
    qint64 convertedSize = 0;
    QUrl convertedUrl;

    static ConversionOutcome notConverted(Kind kind, QString text) {
        return {kind, std::move(text), 0, 0, {}};
    }

    // The row's fields after this outcome, written in one go on the GUI
    // thread. A cancelled conversion leaves the row as it was.
    void applyTo(FileItem& item) const;
};
