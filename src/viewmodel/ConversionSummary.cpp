#include "viewmodel/ConversionSummary.h"

#include "model/FileSize.h"

namespace {

// Overwriting only replaces an original when the output had no suffix to keep
// it apart; with a suffix the original stays untouched beside it.
QString originalsSentence(ConvertBehavior behavior, bool suffixEnabled) {
    switch (behavior) {
    case ConvertBehavior::trash:
        return QStringLiteral("(Original files are moved to the Trash.)");
    case ConvertBehavior::backup:
        return QStringLiteral("(Original files are copied to the _backup folder.)");
    case ConvertBehavior::overwrite:
        return suffixEnabled ? QStringLiteral("(Original files are kept.)")
                             : QStringLiteral("(Original files are overwritten.)");
    }
    return {};
}

} // namespace

QString conversionCompleteText(qint64 convertedCount, qint64 bytesSaved, ConvertBehavior behavior,
                               bool suffixEnabled) {
    return QStringLiteral("Congratulations! ") + QString::number(convertedCount) +
           QStringLiteral(" files converted. ") + formattedFileSize(bytesSaved).toLower() +
           QStringLiteral(" disk space recovered.\n") + originalsSentence(behavior, suffixEnabled);
}
