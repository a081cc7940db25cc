// SPDX-License-Identifier: GPL-3.0-or-later

// chanfuse-analyzer: probes and decodes audio files for Chanfuse with FFmpeg's
// own libraries, one request at a time, so a scan pays a tool's start-up once
// per worker instead of twice per file.
//
// Requests, on standard input: a header line "VERB SECONDS LENGTH\n" and then
// LENGTH bytes of payload, the file's path. VERB is "probe", "decode" or
// "probe+decode"; SECONDS is how much to decode, a whole number or "all" ("-"
// for a probe). "probe+decode" decodes only a file whose audio is one stream
// of two channels: the only audio whose channels a scan compares.
//
// Answers, on standard output: frames "KIND LENGTH\n" followed by LENGTH
// bytes. KIND is "probe" (ffprobe-style JSON), "pcm" (a chunk of the decoded
// PCM), "end" (the request is done) or "error" (its reason; the request is
// done). A line "stop\n" sent during a decode ends it early, with "end"; one
// that comes after the answer is passed over. Anything malformed ends the
// analyser with status 2.

#include "MediaFile.h"
#include "PcmDecoder.h"
#include "ProbeReport.h"
#include "ReadOnlySandbox.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
#include <libavutil/log.h>
#include <libswresample/swresample.h>
}

#include <charconv>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <poll.h>
#include <string>
#include <string_view>
#include <unistd.h>
#include <vector>

namespace {

constexpr size_t maximumPathBytes = 65536;
constexpr size_t chunkBytes = 1 << 16;
// Each request may use the processor this much longer than its decode.
constexpr int64_t processorGraceSeconds = 30;
constexpr int64_t wholeFileProcessorSeconds = 3600;

struct Request {
    bool probe = false;
    bool decode = false;
    std::optional<int64_t> seconds; // nothing: all
    std::string path;
};

void answer(std::string_view kind, const void* data, size_t size) {
    std::fprintf(stdout, "%.*s %zu\n", int(kind.size()), kind.data(), size);
    if (size)
        std::fwrite(data, 1, size, stdout);
}

void answer(std::string_view kind, const std::string& text = {}) {
    answer(kind, text.data(), text.size());
    std::fflush(stdout);
}

bool parseNumber(std::string_view text, int64_t& value) {
    const auto [end, error] = std::from_chars(text.begin(), text.end(), value);
    return error == std::errc() && end == text.end() && value >= 0;
}

constexpr std::string_view stopLine = "stop\n";

// Whether the reader has asked for the rest of the decode to be left out.
// During a request it sends nothing else, so standard input then holds at
// most that line, and the stream's buffer nothing.
bool stopRequested() {
    pollfd input{STDIN_FILENO, POLLIN, 0};
    if (::poll(&input, 1, 0) != 1)
        return false;
    char line[8];
    if (!std::fgets(line, sizeof line, stdin) || std::string_view(line) != stopLine)
        std::exit(2);
    return true;
}

// Nothing at the end of the input; exits on a malformed request.
std::optional<Request> readRequest() {
    char line[128];
    do {
        if (!std::fgets(line, sizeof line, stdin))
            return std::nullopt;
    } while (std::string_view(line) == stopLine); // it came after its answer
    const std::string_view header(line, std::strlen(line));
    std::vector<std::string_view> words;
    size_t from = 0;
    while (from < header.size()) {
        const size_t to = header.find_first_of(" \n", from);
        if (to == std::string_view::npos)
            break;
        words.push_back(header.substr(from, to - from));
        from = to + 1;
    }
    Request request;
    int64_t length = 0;
    const bool wellFormed = header.ends_with('\n') && words.size() == 3 &&
                            parseNumber(words[2], length) && size_t(length) <= maximumPathBytes;
    if (wellFormed) {
        request.probe = words[0] == "probe" || words[0] == "probe+decode";
        request.decode = words[0] == "decode" || words[0] == "probe+decode";
        int64_t seconds = 0;
        if (request.decode && words[1] != "all") {
            if (!parseNumber(words[1], seconds))
                std::exit(2);
            request.seconds = seconds;
        }
    }
    if (!wellFormed || (!request.probe && !request.decode))
        std::exit(2);
    request.path.resize(size_t(length));
    if (std::fread(request.path.data(), 1, request.path.size(), stdin) != request.path.size())
        std::exit(2);
    return request;
}

void serve(const Request& request) {
    limitProcessorTime((request.decode ? request.seconds.value_or(wholeFileProcessorSeconds) : 0) +
                       processorGraceSeconds);
    MediaFile file;
    std::string error;
    if (!file.open(request.path, error))
        return answer("error", error);
    if (request.probe)
        answer("probe", probeReport(file));
    if (request.decode && (!request.probe || file.hasOneTwoChannelStream())) {
        std::vector<uint8_t> pending;
        // Each chunk goes out at once, so the reader can judge it and answer
        // with a stop while the decode goes on.
        const auto flush = [&pending] {
            answer("pcm", pending.data(), pending.size());
            std::fflush(stdout);
            pending.clear();
            return !stopRequested();
        };
        const std::optional<std::string> failed =
            decodePcm(file, request.seconds, [&](const uint8_t* data, size_t size) {
                pending.insert(pending.end(), data, data + size);
                return pending.size() < chunkBytes || flush();
            });
        if (!pending.empty())
            flush();
        if (failed)
            return answer("error", *failed);
    }
    answer("end");
}

// What `--versions` prints: FFmpeg's version and each library's, so the
// application can tell whether an ffmpeg executable decodes as this does.
void printVersions() {
    const auto line = [](const char* name, unsigned version) {
        std::printf("%s %u.%u.%u\n", name, AV_VERSION_MAJOR(version), AV_VERSION_MINOR(version),
                    AV_VERSION_MICRO(version));
    };
    std::printf("FFmpeg %s\n", av_version_info());
    line("libavformat", avformat_version());
    line("libavcodec", avcodec_version());
    line("libswresample", swresample_version());
    line("libavutil", avutil_version());
}

} // namespace

int main(int argc, char** argv) {
    av_log_set_level(AV_LOG_QUIET);
    // A decode's PCM is most of what is sent: a larger pipe lets the decoder
    // run ahead of the reader instead of taking turns with it every 64 KiB.
    // The kernel may refuse; the default size works too.
    ::fcntl(STDOUT_FILENO, F_SETPIPE_SZ, 1 << 20);
    if (const std::string refused = enterReadOnlySandbox(); !refused.empty()) {
        std::fprintf(stderr, "chanfuse-analyzer: cannot confine itself: %s\n", refused.c_str());
        return 1;
    }
    // Printed from inside the sandbox: an analyser that names its versions
    // can also confine itself here.
    if (argc == 2 && std::string_view(argv[1]) == "--versions") {
        printVersions();
        return 0;
    }
    while (const std::optional<Request> request = readRequest())
        serve(*request);
    return 0;
}
