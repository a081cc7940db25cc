// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QString>

#include <optional>
#include <utility>
#include <variant>

// A value, or the text that ends the conversion in its place. The converter
// has one shape for what can fail: a step that makes something returns an
// OrFailure of it; a step that makes nothing returns std::optional<QString>,
// the text alone. Time limits are the one exception the converter catches.
template <class Value> class OrFailure {
public:
    OrFailure(Value value) : held(std::in_place_index<0>, std::move(value)) {}
    static OrFailure failed(QString text) { return OrFailure(std::move(text)); }

    // The text, when there is no value.
    std::optional<QString> failure() const {
        if (const QString* text = std::get_if<1>(&held))
            return *text;
        return std::nullopt;
    }

    // The value; only when failure() is nothing.
    Value& operator*() & { return std::get<0>(held); }
    Value&& operator*() && { return std::get<0>(std::move(held)); }
    const Value& operator*() const& { return std::get<0>(held); }
    const Value* operator->() const { return &std::get<0>(held); }

private:
    explicit OrFailure(QString text) : held(std::in_place_index<1>, std::move(text)) {}

    std::variant<Value, QString> held;
};
