#include "viewmodel/ConversionSummary.h"

#include "model/FileItem.h"

namespace {

QString sizeText(qint64 bytes) {
    return formattedFileSize(bytes).toLower();
}

} // namespace

// A backup always keeps each original (in the _backup folder, and with a
// suffix also in place); overwriting keeps it only when the suffix gave the
// output a name of its own.
QString conversionCompleteText(qint64 convertedCount, qint64 bytesSaved, qint64 originalBytes,
                               ConvertBehavior behavior, bool suffixEnabled) {
    const QString converted = QStringLiteral("Congratulations! ") +
                              QString::number(convertedCount) +
                              QStringLiteral(" files converted. ");
    switch (behavior) {
    case ConvertBehavior::trash:
        return converted + sizeText(bytesSaved) +
               QStringLiteral(" disk space recovered.\n(Original files are moved to the Trash.)");
    case ConvertBehavior::overwrite:
        if (!suffixEnabled)
            return converted + sizeText(bytesSaved) +
                   QStringLiteral(" disk space recovered.\n(Original files are overwritten.)");
        return converted +
               QStringLiteral("Original files are kept beside them:\ndeleting them "
                              "would free ") +
               sizeText(originalBytes) + u'.';
    case ConvertBehavior::backup:
        if (!suffixEnabled)
            return converted +
                   QStringLiteral("Original files are kept in the _backup folder:\n"
                                  "deleting them would free ") +
                   sizeText(originalBytes) + u'.';
        return converted +
               QStringLiteral("Original files are kept, with copies in the _backup "
                              "folder:\ndeleting the originals would free ") +
               sizeText(originalBytes) + u'.';
    }
    return {};
}
