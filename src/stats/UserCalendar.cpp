#include <somnara/stats/UserCalendar.hpp>

#include <date/date.h>
#include <date/tz.h>

#include <cmath>
#include <cstdlib>
#include <exception>
#include <span>
#include <sstream>
#include <string>

namespace somnara {

namespace {

// About three thousand years either side of 1970: far beyond any real play, and far inside what the
// conversions to whole seconds can hold.
constexpr double maximumSecondsFrom1970 = 1e11;

std::optional<date::sys_seconds> toSysSeconds(Date value) {
    const double since1970 = value.timeIntervalSince1970();
    if (!std::isfinite(since1970) || std::fabs(since1970) > maximumSecondsFrom1970) {
        return std::nullopt;
    }
    return date::sys_seconds{std::chrono::seconds{static_cast<std::int64_t>(std::floor(since1970))}};
}

const date::time_zone* zoneNamed(std::string_view name) {
    try {
        return date::locate_zone(name);
    } catch (const std::exception&) {
        return nullptr;
    }
}

} // namespace

UserCalendar UserCalendar::current() {
    if (const char* tz = std::getenv("TZ"); tz != nullptr && *tz != '\0') {
        std::string_view name{tz};
        // glibc accepts ":Europe/Berlin" for a zone file; the name after the colon is the zone.
        if (name.front() == ':') {
            name.remove_prefix(1);
        }
        if (const auto* zone = zoneNamed(name)) {
            return UserCalendar{zone};
        }
    }
    try {
        return UserCalendar{date::current_zone()};
    } catch (const std::exception&) {
        return UserCalendar{date::locate_zone("UTC")};
    }
}

std::optional<UserCalendar> UserCalendar::named(std::string_view zoneName) {
    if (const auto* zone = zoneNamed(zoneName)) {
        return UserCalendar{zone};
    }
    return std::nullopt;
}

std::string UserCalendar::zoneName() const {
    return std::string{zone_->name()};
}

std::optional<std::int64_t> UserCalendar::dayNumber(Date value) const {
    const auto seconds = toSysSeconds(value);
    if (!seconds) {
        return std::nullopt;
    }
    const auto local = zone_->to_local(*seconds);
    return date::floor<date::days>(local).time_since_epoch().count();
}

Date UserCalendar::startOfDay(std::int64_t day) const {
    const date::local_seconds midnight{date::local_days{date::days{day}}};
    const auto info = zone_->get_info(midnight);
    date::sys_seconds start;
    switch (info.result) {
    case date::local_info::unique:
        start = date::sys_seconds{midnight.time_since_epoch() - info.first.offset};
        break;
    case date::local_info::ambiguous:
        // Midnight happens twice: the day starts at the first of them.
        start = date::sys_seconds{midnight.time_since_epoch() - info.first.offset};
        break;
    case date::local_info::nonexistent:
        // Midnight is skipped: the day starts when the clock jumps, the end of the earlier offset.
        start = info.second.begin;
        break;
    }
    return Date::fromTimeIntervalSince1970(static_cast<double>(start.time_since_epoch().count()));
}

std::string UserCalendar::isoString(Date value) const {
    const auto seconds = toSysSeconds(value);
    if (!seconds) {
        return {};
    }
    const date::zoned_time<std::chrono::seconds> zoned{zone_, *seconds};
    return date::format("%FT%T%Ez", zoned);
}

std::string UserCalendar::isoDayString(std::int64_t day) {
    return date::format("%F", date::sys_days{date::days{day}});
}

std::optional<Date> UserCalendar::parseDate(std::string_view text) const {
    const auto fromSys = [](date::sys_seconds seconds) {
        return Date::fromTimeIntervalSince1970(static_cast<double>(seconds.time_since_epoch().count()));
    };
    const auto parsedWhole = [](std::istringstream& in) {
        return !in.fail() && in.peek() == std::char_traits<char>::eof();
    };
    const std::string whole(text);
    // date's %T rounds the seconds it read even when the text has none, from an uninitialised value
    // (undefined behaviour), so it is only tried on a time that has seconds ("hh:mm:ss"), and %R otherwise.
    const auto colon = whole.find(':');
    const bool hasSeconds = colon != std::string::npos && whole.find(':', colon + 1) == colon + 3;
    using Formats = std::span<const char* const>;
    static constexpr const char* offsetWithSeconds[] = {"%FT%T%Ez", "%FT%T%z", "%F %T%Ez", "%FT%TZ"};
    static constexpr const char* offsetWithoutSeconds[] = {"%FT%RZ"};
    static constexpr const char* localWithSeconds[] = {"%FT%T", "%F %T"};
    static constexpr const char* localWithoutSeconds[] = {"%FT%R", "%F %R"};
    const Formats withOffset = hasSeconds ? Formats{offsetWithSeconds} : Formats{offsetWithoutSeconds};
    const Formats local = hasSeconds ? Formats{localWithSeconds} : Formats{localWithoutSeconds};
    for (const char* format : withOffset) {
        std::istringstream in(whole);
        date::sys_seconds seconds;
        in >> date::parse(format, seconds);
        if (parsedWhole(in)) {
            return fromSys(seconds);
        }
    }
    for (const char* format : local) {
        std::istringstream in(whole);
        date::local_seconds seconds;
        in >> date::parse(format, seconds);
        if (parsedWhole(in)) {
            return fromSys(date::zoned_seconds{zone_, seconds, date::choose::earliest}.get_sys_time());
        }
    }
    std::istringstream in(whole);
    date::local_days day;
    in >> date::parse("%F", day);
    if (parsedWhole(in)) {
        return startOfDay(day.time_since_epoch().count() + 1).addingTimeInterval(-1);
    }
    return std::nullopt;
}

} // namespace somnara
