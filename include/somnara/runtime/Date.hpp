#pragma once

#include <chrono>
#include <compare>

namespace somnara {

/// An absolute point in time: seconds since 00:00:00 UTC on 1 January 2001, as a double so that it
/// round-trips exactly through JSON. The current date comes from the loop's clock (`Loop::now()`).
struct Date {
    /// Seconds from the Unix epoch to the reference date.
    static constexpr double referenceDateSince1970 = 978'307'200.0;

    double timeIntervalSinceReferenceDate = 0;

    static constexpr Date fromTimeIntervalSince1970(double seconds) noexcept {
        return Date{seconds - referenceDateSince1970};
    }
    static Date fromSystemClock(std::chrono::system_clock::time_point point) noexcept;

    constexpr double timeIntervalSince1970() const noexcept {
        return timeIntervalSinceReferenceDate + referenceDateSince1970;
    }
    std::chrono::system_clock::time_point toSystemClock() const noexcept;

    constexpr double timeIntervalSince(Date other) const noexcept {
        return timeIntervalSinceReferenceDate - other.timeIntervalSinceReferenceDate;
    }
    constexpr Date addingTimeInterval(double seconds) const noexcept {
        return Date{timeIntervalSinceReferenceDate + seconds};
    }

    friend constexpr auto operator<=>(const Date&, const Date&) = default;
};

} // namespace somnara
