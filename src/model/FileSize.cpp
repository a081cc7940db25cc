#include "model/FileSize.h"

#include <QLocale>

QString formattedFileSize(qint64 bytes) {
    int precision = 0;
    if (bytes >= 1000LL * 1000 * 1000)
        precision = 2;
    else if (bytes >= 1000LL * 1000)
        precision = 1;
    return QLocale().formattedDataSize(bytes, precision, QLocale::DataSizeSIFormat);
}
