#pragma once

#include <somnara/runtime/Date.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace date {
class time_zone;
} // namespace date

namespace somnara {

/// The user's calendar: Gregorian days in the user's time zone, for the statistics' day counts.
///
/// A day is named by its day number: whole days from 1 January 1970 to it, counted on the local
/// calendar, so that consecutive days differ by exactly one whatever daylight saving does to their
/// lengths. A plain value; any thread.
class UserCalendar {
public:
    /// The zone named by `TZ` when it names a known zone, else the system's zone, else UTC. Read anew
    /// on every call, so a changed zone shows at the next computation.
    static UserCalendar current();
    /// The zone of that IANA name ("Europe/Berlin"); none when the name is unknown.
    static std::optional<UserCalendar> named(std::string_view zoneName);

    std::string zoneName() const;

    /// The number of the local day holding `date`; none when `date` is not finite or lies too far
    /// from the present era for the calendar (beyond about three thousand years).
    std::optional<std::int64_t> dayNumber(Date date) const;
    /// The first instant of local day `day`; on a day whose midnight a clock change skips, the first
    /// instant the day has.
    Date startOfDay(std::int64_t day) const;
    /// `date` as local ISO 8601 with seconds and the zone's offset: "2026-03-29T03:00:00+02:00".
    std::string isoString(Date date) const;
    /// A day as ISO 8601: "2026-03-29".
    static std::string isoDayString(std::int64_t day);
    /// Reads an ISO 8601 date: with an offset ("2026-12-05T22:30:00+01:00", "...Z") it is that instant;
    /// without one ("2026-12-05T22:30:00", "2026-12-05 22:30") a local time in this calendar's zone,
    /// the earlier one when a clock change repeats it; a day alone ("2026-12-05") the last second of
    /// that day, so that the day counts in full. None when the text is none of these.
    std::optional<Date> parseDate(std::string_view text) const;

private:
    explicit UserCalendar(const date::time_zone* zone) : zone_(zone) {}

    const date::time_zone* zone_;
};

} // namespace somnara
