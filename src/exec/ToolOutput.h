// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

// The bytes as UTF-8 text, or nothing when they are not valid UTF-8.
std::optional<QString> strictUtf8(const QByteArray& bytes);

// Splits at every line-break character on its own (LF, VT, FF, CR, NEL, LS,
// PS), so CR LF yields an empty piece between them and a trailing break a
// final empty piece; tools end progress lines with bare carriage returns.
QStringList splitAtLineBreaks(const QString& text);
