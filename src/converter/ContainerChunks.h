// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// What an original's own header holds that ffmpeg rewrites its own way or does
// not carry over, and ffprobe does not tell: the kind of WAV (RIFF or RF64),
// the top-level chunks of a WAV or AIFF file, and the version of an MP3's
// ID3v2 tag.
struct ContainerChunks {
    bool rf64 = false;
    int id3v2Version = 0; // 2, 3 or 4; 0 without an ID3v2 tag
    QStringList chunks;   // top-level chunk ids in file order, a LIST as "LIST/" + its type
};

// Reads the chunk headers of `path`, at most 256 of them, seeking past their
// data; nothing when the file cannot be read. Blocks: call under a time limit.
std::optional<ContainerChunks> readContainerChunks(const QString& path);
