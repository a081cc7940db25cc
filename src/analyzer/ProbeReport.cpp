// SPDX-License-Identifier: GPL-3.0-or-later

#include "ProbeReport.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <cstdio>

namespace {

// JSON string escaping as ffprobe does it: the two specials and control
// characters; other bytes pass through as the tags hold them.
std::string quoted(const char* text) {
    std::string out = "\"";
    for (const char* c = text; *c; ++c) {
        const unsigned char byte = static_cast<unsigned char>(*c);
        if (byte == '"' || byte == '\\') {
            out += '\\';
            out += char(byte);
        } else if (byte < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
            out += escaped;
        } else {
            out += char(byte);
        }
    }
    return out + '"';
}

class JsonObject {
public:
    JsonObject& raw(const char* key, const std::string& value) {
        text += (text.empty() ? "{" : ",") + quoted(key) + ':' + value;
        return *this;
    }
    JsonObject& string(const char* key, const std::string& value) {
        return raw(key, quoted(value.c_str()));
    }
    JsonObject& integer(const char* key, long long value) {
        return raw(key, std::to_string(value));
    }
    std::string done() const { return text.empty() ? "{}" : text + '}'; }

private:
    std::string text;
};

std::string seconds(int64_t value, AVRational base) {
    char text[64];
    std::snprintf(text, sizeof text, "%f", double(value) * av_q2d(base));
    return text;
}

std::string tags(const AVDictionary* metadata) {
    JsonObject object;
    const AVDictionaryEntry* tag = nullptr;
    while ((tag = av_dict_get(metadata, "", tag, AV_DICT_IGNORE_SUFFIX)))
        object.string(tag->key, tag->value);
    return object.done();
}

std::string stream(const AVStream* stream) {
    const AVCodecParameters* parameters = stream->codecpar;
    JsonObject object;
    object.integer("index", stream->index);
    if (const char* type = av_get_media_type_string(parameters->codec_type))
        object.string("codec_type", type);
    if (const AVCodecDescriptor* codec = avcodec_descriptor_get(parameters->codec_id))
        object.string("codec_name", codec->name);
    if (parameters->codec_type == AVMEDIA_TYPE_AUDIO) {
        if (const char* format = av_get_sample_fmt_name(AVSampleFormat(parameters->format)))
            object.string("sample_fmt", format);
        object.string("sample_rate", std::to_string(parameters->sample_rate));
        object.integer("channels", parameters->ch_layout.nb_channels);
        object.integer("bits_per_sample", av_get_bits_per_sample(parameters->codec_id));
    }
    if (parameters->bits_per_raw_sample > 0)
        object.string("bits_per_raw_sample", std::to_string(parameters->bits_per_raw_sample));
    if (parameters->bit_rate > 0)
        object.string("bit_rate", std::to_string(parameters->bit_rate));
    if (stream->duration != AV_NOPTS_VALUE)
        object.string("duration", seconds(stream->duration, stream->time_base));
    object.raw(
        "disposition",
        JsonObject()
            .integer("attached_pic", (stream->disposition & AV_DISPOSITION_ATTACHED_PIC) ? 1 : 0)
            .done());
    object.raw("tags", tags(stream->metadata));
    return object.done();
}

} // namespace

std::string probeReport(const MediaFile& file) {
    const AVFormatContext* format = file.context();
    std::string streams = "[";
    for (unsigned index = 0; index < format->nb_streams; ++index)
        streams += (index ? "," : "") + stream(format->streams[index]);
    streams += ']';

    JsonObject container;
    container.string("format_name", format->iformat->name);
    if (format->duration != AV_NOPTS_VALUE)
        container.string("duration", seconds(format->duration, AV_TIME_BASE_Q));
    if (format->pb && avio_size(format->pb) >= 0)
        container.string("size", std::to_string(avio_size(format->pb)));
    if (format->bit_rate > 0)
        container.string("bit_rate", std::to_string(format->bit_rate));
    container.raw("tags", tags(format->metadata));
    return JsonObject().raw("streams", streams).raw("format", container.done()).done();
}
