#include "converter/OutputNaming.h"

#include "model/PathParts.h"

#include <QFileInfo>

OutputPath buildOutputPath(const FileItem& item, const Settings& settings) {
    const QString input = item.path();
    const QString directory = QFileInfo(input).path();
    const NameParts name = splitExtension(lastPathComponent(input));
    const QString uuid = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    const QString temporary =
        directory + QStringLiteral("/sonfold_out_") + uuid + u'.' + name.extension;

    if (settings.suffixEnabled()) {
        const QString candidate =
            directory + u'/' + name.base + settings.suffix() + u'.' + name.extension;
        if (candidate != input)
            return {temporary, candidate, false};
    }
    return {temporary, input, true};
}
