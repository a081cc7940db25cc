// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "converter/ConversionOutcome.h"

#include <optional>
#include <utility>
#include <variant>

// A value, or the outcome that ends the conversion in its place. The converter
// has one shape for what can fail: a step that makes something returns an
// OrFailure of it; a step that makes nothing returns
// std::optional<ConversionOutcome>, the outcome alone. Either way the kind is
// set where the failure happens, so no caller reads it back from the text.
// Time limits are the one exception the converter catches.
template <class Value> class OrFailure {
public:
    OrFailure(Value value) : held(std::in_place_index<0>, std::move(value)) {}
    OrFailure(ConversionOutcome failure) : held(std::in_place_index<1>, std::move(failure)) {}
    static OrFailure failed(ConversionOutcome::Kind kind, QString text) {
        return ConversionOutcome::notConverted(kind, std::move(text));
    }

    // The outcome, when there is no value.
    std::optional<ConversionOutcome> failure() const {
        if (const ConversionOutcome* outcome = std::get_if<1>(&held))
            return *outcome;
        return std::nullopt;
    }

    // The value; only when failure() is nothing.
    Value& operator*() & { return std::get<0>(held); }
    Value&& operator*() && { return std::get<0>(std::move(held)); }
    const Value& operator*() const& { return std::get<0>(held); }
    const Value* operator->() const { return &std::get<0>(held); }

private:
    std::variant<Value, ConversionOutcome> held;
};
