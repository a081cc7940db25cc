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
