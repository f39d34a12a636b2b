#pragma once

namespace somnara {

/// The values from `lowerBound` to `upperBound`, both included: what a screen offers for a setting.
template <class T>
struct ClosedRange {
    T lowerBound;
    T upperBound;

    constexpr bool contains(const T& value) const noexcept {
        return lowerBound <= value && value <= upperBound;
    }

    friend constexpr bool operator==(const ClosedRange&, const ClosedRange&) = default;
};

} // namespace somnara
