#pragma once

#include <algorithm>

namespace somnara {

/// `value` limited to the closed range [lower, upper]: min(max(value, lower), upper).
template <class T>
constexpr T clamped(const T& value, const T& lower, const T& upper) {
    return std::min(std::max(value, lower), upper);
}

} // namespace somnara
