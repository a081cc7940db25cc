// SPDX-License-Identifier: GPL-3.0-or-later

#include "MediaFile.h"

std::string errorText(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

bool MediaFile::open(const std::string& path, std::string& error) {
    // The "file:" protocol alone: a name must never be read as a URL that
    // reaches the network or another protocol.
    AVDictionary* options = nullptr;
    av_dict_set(&options, "protocol_whitelist", "file", 0);
    const int opened = avformat_open_input(&format, ("file:" + path).c_str(), nullptr, &options);
    av_dict_free(&options);
    if (opened < 0) {
        error = errorText(opened);
        return false;
    }
    const int found = avformat_find_stream_info(format, nullptr);
    if (found < 0) {
        error = errorText(found);
        return false;
    }
    return true;
}

MediaFile::~MediaFile() {
    avformat_close_input(&format);
}

int MediaFile::firstAudioStream() const {
    for (unsigned index = 0; index < format->nb_streams; ++index)
        if (format->streams[index]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO)
            return int(index);
    return -1;
}

bool MediaFile::hasOneTwoChannelStream() const {
    int streams = 0;
    for (unsigned index = 0; index < format->nb_streams; ++index)
        if (format->streams[index]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO)
            ++streams;
    const int first = firstAudioStream();
    return streams == 1 && format->streams[first]->codecpar->ch_layout.nb_channels == 2;
}
