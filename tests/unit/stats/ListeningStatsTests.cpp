#include "support/Recorders.hpp"

#include <somnara/stats/ListeningStats.hpp>
#include <somnara/stats/UserCalendar.hpp>
#include <somnara/system/ZelAnalyticsLogger.hpp>

#include <date/date.h>
#include <date/tz.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

using namespace somnara;
using namespace std::chrono_literals;

namespace {

PlayEvent event(SoundTrack soundTrack, Date start, std::optional<double> lengthSeconds) {
    std::optional<Date> end;
    if (lengthSeconds) {
        end = start.addingTimeInterval(*lengthSeconds);
    }
    return PlayEvent{start, soundTrack, end};
}

UserCalendar calendar(const char* zone) {
    return *UserCalendar::named(zone);
}

constexpr auto berlin = "Europe/Berlin";
constexpr auto newYork = "America/New_York";

using date::March;
using date::November;
using date::October;

/// Local wall-clock times in `zone`, "MM-DD hh:mm" in 2026 or "YYYY-MM-DD hh:mm", separated by commas.
std::vector<Date> times(const char* zone, std::string_view list) {
    const auto calendar = *UserCalendar::named(zone);
    std::vector<Date> dates;
    while (!list.empty()) {
        const auto end = std::min(list.find(','), list.size());
        const auto item = list.substr(0, end);
        dates.push_back(
            *calendar.parseDate(item.size() == 11 ? "2026-" + std::string(item) : std::string(item)));
        list.remove_prefix(std::min(end + 2, list.size()));
    }
    return dates;
}

/// One local wall-clock time in `zone`, as `times` reads it; 5 December is the loop's "today" below.
Date when(const char* zone, std::string_view text) {
    return times(zone, text).at(0);
}

struct SessionCase {
    const char* name;
    std::vector<PlayEvent> events;
    double totalListeningTime;
    double longestSession;
    std::int64_t totalPlaysCount;
};

TEST(ListeningStatsTest, SessionsJoinEventsThatOverlapOrTouch) {
    const Date ten = when(berlin, "12-05 10:00");
    const Date currentDate = when(berlin, "12-05 18:00");
    const Date now = when(berlin, "12-05 20:00");
    const auto e = [&](SoundTrack soundTrack, double offset, std::optional<double> length) {
        return event(soundTrack, ten.addingTimeInterval(offset), length);
    };
    const SoundTrack rain = SoundTrack::rain, fan = SoundTrack::fan, waves = SoundTrack::waves;
    const double open = currentDate.timeIntervalSince(ten.addingTimeInterval(3600));
    const double lone = now.timeIntervalSince(ten);
    const std::vector<SessionCase> cases = {
        {"nothing", {}, 0, 0, 0},
        {"overlapping sounds", {e(rain, 0, 1800), e(fan, 900, 2700)}, 3600, 3600, 1},
        {"touching at 10:30", {e(rain, 0, 1800), e(fan, 1800, 1800)}, 3600, 3600, 1},
        {"one second apart", {e(rain, 0, 1800), e(fan, 1801, 1799)}, 3599, 1800, 2},
        {"a short play inside a long one", {e(rain, 0, 7200), e(fan, 600, 60)}, 7200, 7200, 1},
        {"recorded out of order", {e(rain, 7200, 600), e(fan, 0, 300), e(waves, 200, 400)}, 1200, 600, 2},
        // With several events, a session still open ends at the date asked about, not at the clock.
        {"open after a closed one", {e(rain, 0, 600), e(fan, 3600, std::nullopt)}, 600 + open, open, 2},
        // A lone open event runs until the clock's present.
        {"a lone open event", {e(rain, 0, std::nullopt)}, lone, lone, 1}};
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        const auto stats = computeListeningStats(testCase.events, currentDate, now, calendar(berlin));
        EXPECT_DOUBLE_EQ(stats.totalListeningTime, testCase.totalListeningTime);
        EXPECT_DOUBLE_EQ(stats.longestSession, testCase.longestSession);
        EXPECT_EQ(stats.totalPlaysCount, testCase.totalPlaysCount);
    }
}

TEST(ListeningStatsTest, PerSoundTotalsCountEveryEventOfTheSound) {
    const Date ten = when(berlin, "12-05 10:00");
    const Date now = when(berlin, "12-05 12:00");
    const std::vector<PlayEvent> events = {
        event(SoundTrack::rain, ten, 1800),
        event(SoundTrack::fan, ten.addingTimeInterval(900), 2700),
        event(SoundTrack::rain, ten.addingTimeInterval(-86400), 600),
        // Still playing: counts until the clock's present in its sound's total.
        event(SoundTrack::waves, now.addingTimeInterval(-120), std::nullopt),
    };
    const auto stats = computeListeningStats(events, when(berlin, "12-05 23:00"), now, calendar(berlin));
    EXPECT_EQ(stats.totalTimePerSoundTrack,
              (std::unordered_map<SoundTrack, double>{
                  {SoundTrack::rain, 2400}, {SoundTrack::fan, 2700}, {SoundTrack::waves, 120}}));
    EXPECT_EQ(stats.playCountPerSoundTrack,
              (std::unordered_map<SoundTrack, std::int64_t>{
                  {SoundTrack::rain, 2}, {SoundTrack::fan, 1}, {SoundTrack::waves, 1}}));
    // The latest start wins even though it was recorded first.
    EXPECT_EQ(stats.lastPlayedDatePerSoundTrack.at(SoundTrack::rain), ten);
    EXPECT_EQ(stats.mostPlayedSoundTrack, SoundTrack{SoundTrack::fan});

    // Equal totals go to the sound played last.
    const std::vector<PlayEvent> tied = {event(SoundTrack::train, ten, 600),
                                         event(SoundTrack::whiteNoise, ten.addingTimeInterval(3600), 600),
                                         event(SoundTrack::owl, ten.addingTimeInterval(1800), 600)};
    EXPECT_EQ(computeListeningStats(tied, ten, ten, calendar(berlin)).mostPlayedSoundTrack,
              SoundTrack{SoundTrack::whiteNoise});
}

TEST(ListeningStatsTest, StreaksAndRecentDaysFollowTheLocalCalendar) {
    struct Case {
        const char* name;
        const char* zone;
        const char* starts;
        const char* currentDate;
        std::int64_t longestStreak, currentStreak;
        const char* indexes; // of the last thirty days played, separated by spaces
    };
    const std::vector<Case> cases = {
        {"today and yesterday", berlin, "12-05 09:00, 12-04 22:00", "12-05 12:00", 2, 2, "0 1"},
        {"yesterday and the day before, none today", berlin, "12-04 09:00, 12-03 09:00", "12-05 12:00", 2, 2,
         "1 2"},
        {"only two days ago", berlin, "12-03 09:00", "12-05 12:00", 1, 0, "2"},
        {"only forty days ago", berlin, "10-26 09:00", "12-05 12:00", 1, 0, ""},
        {"several plays on one day count once", berlin, "12-05 01:00, 12-05 09:00, 12-05 23:59",
         "12-05 12:00", 1, 1, "0"},
        {"days 1, 2, 3, 5 and 6 of a month", berlin,
         "11-01 10:00, 11-02 10:00, 11-03 10:00, 11-05 10:00, 11-06 10:00", "11-06 20:00", 3, 2, "0 1 3 4 5"},
        // Just after midnight in Berlin is still the day before in UTC: counted in UTC days, every play
        // would move a day back and today would have none.
        {"just after local midnight", berlin, "2025-12-31 00:30, 01-01 00:30, 01-02 00:30", "01-02 12:00", 3,
         3, "0 1 2"},
        // New York evenings are the next day in UTC, New York noon is not.
        {"late evenings in New York", newYork, "03-01 21:00, 03-02 21:00, 03-03 21:00", "03-04 12:00", 3, 3,
         "1 2 3"},
        // 29 March has 23 hours in Berlin, 25 October has 25.
        {"over the spring clock change", berlin, "03-28 23:30, 03-29 23:30, 03-30 00:15", "03-31 00:30", 3, 3,
         "1 2 3"},
        {"over the autumn clock change", berlin, "10-24 23:30, 10-25 00:15, 10-25 23:45, 10-26 00:05",
         "10-26 23:50", 3, 3, "0 1 2"},
        {"a play over midnight counts for the day it began", berlin, "12-04 23:50", "12-05 12:00", 1, 1, "1"},
    };
    const auto statsOf = [](const char* zone, const std::vector<Date>& starts, Date currentDate) {
        std::vector<PlayEvent> events;
        for (const Date start : starts) {
            events.push_back(event(SoundTrack::rain, start, 3600));
        }
        return computeListeningStats(events, currentDate, currentDate, calendar(zone));
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto stats = statsOf(c.zone, times(c.zone, c.starts), times(c.zone, c.currentDate).at(0));
        EXPECT_EQ(stats.longestStreak, c.longestStreak);
        EXPECT_EQ(stats.currentStreak, c.currentStreak);
        std::string indexes;
        for (const auto index : stats.lastThirtyDaysPlayedIndexes) {
            indexes += (indexes.empty() ? "" : " ") + std::to_string(index);
        }
        EXPECT_EQ(indexes, c.indexes);
    }
    // Every day from forty days ago to today: one run, and the last thirty days all played.
    std::vector<Date> daily;
    for (int back = 40; back >= 0; --back) {
        daily.push_back(when(berlin, "12-05 08:00").addingTimeInterval(-86'400.0 * back));
    }
    const auto stats = statsOf(berlin, daily, when(berlin, "12-05 12:00"));
    EXPECT_EQ(stats.longestStreak, 41);
    EXPECT_EQ(stats.currentStreak, 41);
    EXPECT_EQ(stats.lastThirtyDaysPlayedIndexes.size(), 30U);
    EXPECT_EQ(*stats.lastThirtyDaysPlayedIndexes.rbegin(), 29);
}

TEST(ListeningStatsTest, ADateTheCalendarCannotPlaceIsReportedAndCountsNothing) {
    const test::AnalyticsRecorder analytics;
    const Date today = when(berlin, "12-05 12:00");
    const std::vector<PlayEvent> events = {event(SoundTrack::rain, today, 60)};
    const auto stats =
        computeListeningStats(events, Date{std::numeric_limits<double>::infinity()}, today, calendar(berlin));
    EXPECT_EQ(stats.currentStreak, 0);
    EXPECT_TRUE(stats.lastThirtyDaysPlayedIndexes.empty());
    EXPECT_DOUBLE_EQ(stats.totalListeningTime, 60);
    const auto reports = analytics.all();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].message, "How did we not get a date?!");
}

TEST(UserCalendarTest, DaysStartAtLocalMidnightOrAtTheFirstInstantAfterASkippedOne) {
    struct Case {
        const char* zone;
        date::year_month_day day;
        const char* expectedStart;
    };
    const std::vector<Case> cases = {
        {berlin, {date::year{2026}, March, date::day{29}}, "2026-03-29T00:00:00+01:00"},
        {berlin, {date::year{2026}, March, date::day{30}}, "2026-03-30T00:00:00+02:00"},
        {berlin, {date::year{2026}, October, date::day{26}}, "2026-10-26T00:00:00+01:00"},
        {newYork, {date::year{2026}, November, date::day{1}}, "2026-11-01T00:00:00-04:00"},
        // Chile moves its clocks at midnight: on 6 September 2026 the day begins at 01:00.
        {"America/Santiago", {date::year{2026}, date::September, date::day{6}}, "2026-09-06T01:00:00-03:00"}};
    for (const auto& testCase : cases) {
        const auto calendar = *UserCalendar::named(testCase.zone);
        const std::int64_t number = date::sys_days{testCase.day}.time_since_epoch().count();
        const Date start = calendar.startOfDay(number);
        EXPECT_EQ(calendar.isoString(start), testCase.expectedStart) << testCase.zone;
        EXPECT_EQ(calendar.dayNumber(start), number) << testCase.zone;
        EXPECT_EQ(calendar.dayNumber(start.addingTimeInterval(-0.5)), number - 1) << testCase.zone;
    }
    EXPECT_FALSE(UserCalendar::named("Europe/Atlantis").has_value());
    EXPECT_FALSE(calendar(berlin).dayNumber(Date{std::nan("")}).has_value());
}

TEST(UserCalendarTest, ReadsISODatesWithAndWithoutOffsets) {
    const auto berlinCalendar = calendar(berlin);
    const std::vector<std::pair<const char*, std::optional<const char*>>> cases = {
        {"2026-12-05T22:30:00+01:00", "2026-12-05T22:30:00+01:00"},
        {"2026-12-05T16:30:00-0500", "2026-12-05T22:30:00+01:00"},
        {"2026-12-05T22:30:00", "2026-12-05T22:30:00+01:00"},
        {"2026-07-05 22:30", "2026-07-05T22:30:00+02:00"},
        // Happens twice when the clocks go back: the first of the two.
        {"2026-10-25T02:30:00", "2026-10-25T02:30:00+02:00"},
        // A day alone counts in full.
        {"2026-03-29", "2026-03-29T23:59:59+02:00"},
        {"2026-12-05T22:30:00+01:00 and more", std::nullopt},
        {"yesterday", std::nullopt}};
    for (const auto& [text, expected] : cases) {
        const auto parsed = berlinCalendar.parseDate(text);
        ASSERT_EQ(parsed.has_value(), expected.has_value()) << text;
        if (parsed) {
            EXPECT_EQ(berlinCalendar.isoString(*parsed), *expected) << text;
        }
    }
}

} // namespace
