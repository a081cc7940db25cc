#pragma once

#include "model/Statuses.h"

// How the file table is ordered and filtered. SortColumn and ShowFilter carry
// their header and segment titles as raw values.
enum class SortColumn { filename, fileSize, channels, status };

enum class SortOrder { ascending, descending };

enum class ShowFilter { all, fakeStereoOnly };

template <> struct RawValues<SortColumn> {
    static constexpr bool listable = true;
    static constexpr std::array<std::pair<SortColumn, std::string_view>, 4> table{{
        {SortColumn::filename, "Filename"},
        {SortColumn::fileSize, "Size"},
        {SortColumn::channels, "Channels"},
        {SortColumn::status, "Status"},
    }};
};

template <> struct RawValues<ShowFilter> {
    static constexpr bool listable = true;
    static constexpr std::array<std::pair<ShowFilter, std::string_view>, 2> table{{
        {ShowFilter::all, "All"},
        {ShowFilter::fakeStereoOnly, "Fake Stereo"},
    }};
};
