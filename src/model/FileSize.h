#pragma once

#include <QString>

// Byte counts in decimal units (1 kB = 1000 bytes): whole numbers for bytes and
// kB, one decimal for MB, two from GB up ("12.4 MB").
QString formattedFileSize(qint64 bytes);
