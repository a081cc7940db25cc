// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QString>

#include <array>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

// Each enumeration that has a visible label specialises RawValues with a table of
// (case, label) pairs in declaration order. The label is also the stored form in
// the settings, so conversion in both directions goes through this one table.
template <class Enum> struct RawValues;

template <class Enum> QString rawValue(Enum value) {
    for (const auto& [candidate, label] : RawValues<Enum>::table) {
        if (candidate == value)
            return QString::fromUtf8(label.data(), qsizetype(label.size()));
    }
    return {};
}

// Exact, case-sensitive match of the whole label; anything else yields nothing.
template <class Enum> std::optional<Enum> fromRawValue(const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    const std::string_view wanted(utf8.constData(), std::size_t(utf8.size()));
    for (const auto& [candidate, label] : RawValues<Enum>::table) {
        if (label == wanted)
            return candidate;
    }
    return std::nullopt;
}

template <class Enum>
requires RawValues<Enum>::listable std::vector<Enum> allCases() {
    std::vector<Enum> cases;
    for (const auto& entry : RawValues<Enum>::table)
        cases.push_back(entry.first);
    return cases;
}

// Only a file with exactly one audio stream of two channels can be fake
// stereo; the other layouts are listed with their count and never converted.
enum class ChannelStatus { stereo, mono, unknown, multichannel, multipleStreams };

enum class DetectionStatus {
    pending,
    fakeStereo,
    realStereo,
    mono,
    multichannel,
    error,
    timedOut,
    converted,
};

enum class ComparisonMethod { byteExact, statistical };

enum class ConvertBehavior { trash, overwrite, backup };

template <> struct RawValues<ChannelStatus> {
    static constexpr bool listable = true;
    // The last two are patterns for FileItem::channelLabel, which fills in the
    // channel or stream count.
    static constexpr std::array<std::pair<ChannelStatus, std::string_view>, 5> table{{
        {ChannelStatus::stereo, "Stereo"},
        {ChannelStatus::mono, "Mono"},
        {ChannelStatus::unknown, "Unknown"},
        {ChannelStatus::multichannel, "%1 ch"},
        {ChannelStatus::multipleStreams, "%1 audio streams"},
    }};
};

template <> struct RawValues<DetectionStatus> {
    static constexpr bool listable = false;
    static constexpr std::array<std::pair<DetectionStatus, std::string_view>, 8> table{{
        {DetectionStatus::pending, "Pending"},
        {DetectionStatus::fakeStereo, "\u26A0 Fake Stereo"},
        {DetectionStatus::realStereo, "\u2713 Real Stereo"},
        {DetectionStatus::mono, "\u2713 Mono"},
        {DetectionStatus::multichannel, "\u2713 Multichannel"},
        {DetectionStatus::error, "\u2717 Error"},
        {DetectionStatus::timedOut, "\u23F1 Skipped"},
        {DetectionStatus::converted, "\u2713 Converted"},
    }};
};

template <> struct RawValues<ComparisonMethod> {
    static constexpr bool listable = true;
    static constexpr std::array<std::pair<ComparisonMethod, std::string_view>, 2> table{{
        {ComparisonMethod::byteExact, "Byte-exact"},
        {ComparisonMethod::statistical, "Statistical"},
    }};
};

template <> struct RawValues<ConvertBehavior> {
    static constexpr bool listable = true;
    static constexpr std::array<std::pair<ConvertBehavior, std::string_view>, 3> table{{
        {ConvertBehavior::trash, "Move to Trash"},
        {ConvertBehavior::overwrite, "Overwrite"},
        {ConvertBehavior::backup, "Copy to Backup"},
    }};
};
