// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

extern "C" {
#include <libavformat/avformat.h>
}

#include <string>

// One opened input, shared by a probe and a decode so a file that asks for
// both is opened once. Owns the demuxer context.
class MediaFile {
public:
    // Opens and reads the stream parameters; `error` says why when it fails.
    bool open(const std::string& path, std::string& error);
    ~MediaFile();

    AVFormatContext* context() const { return format; }

    // The first audio stream, as ffmpeg's "-map 0:a:0" picks it; -1 without one.
    int firstAudioStream() const;

    // Whether the file's audio is one stream of two channels.
    bool hasOneTwoChannelStream() const;

private:
    AVFormatContext* format = nullptr;
};

// The libav error text for a code.
std::string errorText(int code);
