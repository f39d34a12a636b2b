#pragma once

#include <algorithm>
#include <concepts>
#include <iterator>
#include <ranges>

namespace somnara {

/// An enumeration-like type that lists all its values, in order, with `T::allCases()`.
template <class T>
concept CaseIterable = std::equality_comparable<T> && requires {
    { T::allCases() } -> std::ranges::bidirectional_range;
};

/// The case after `value` in `allCases()`; after the last, the first.
template <CaseIterable T>
T next(const T& value) {
    const auto& all = T::allCases();
    auto position = std::ranges::find(all, value);
    if (position == std::ranges::end(all) || ++position == std::ranges::end(all)) {
        return *std::ranges::begin(all);
    }
    return *position;
}

/// The case before `value` in `allCases()`; before the first, the last.
template <CaseIterable T>
T previous(const T& value) {
    const auto& all = T::allCases();
    auto position = std::ranges::find(all, value);
    if (position == std::ranges::begin(all) || position == std::ranges::end(all)) {
        return *std::ranges::prev(std::ranges::end(all));
    }
    return *std::ranges::prev(position);
}

} // namespace somnara
