#include "support/Recorders.hpp"
#include "support/ScopedEnvironment.hpp"
#include "support/TestLoop.hpp"

#include <somnara/stats/ListeningStats.hpp>
#include <somnara/stats/UserCalendar.hpp>
#include <somnara/system/ZelAnalyticsLogger.hpp>

#include <date/date.h>
#include <date/tz.h>

#include <cmath>
#include <limits>
#include <set>
#include <string>
#include <vector>

using namespace somnara;
using namespace std::chrono_literals;

namespace {

/// The instant of a local wall-clock time in `zone`; for a time a clock change makes ambiguous, the
/// earlier one.
Date at(const char* zone, date::year_month_day day, std::chrono::minutes timeOfDay) {
    const date::local_seconds local{date::local_days{day} + timeOfDay};
    const auto zoned = date::zoned_seconds{zone, local, date::choose::earliest};
    return Date::fromTimeIntervalSince1970(
        static_cast<double>(zoned.get_sys_time().time_since_epoch().count()));
}

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

using date::April;
using date::December;
using date::February;
using date::January;
using date::March;
using date::November;
using date::October;

// 5 December 2026, the loop's "today" in most cases below.
constexpr date::year_month_day december5{date::year{2026}, December, date::day{5}};

date::year_month_day daysBefore(date::year_month_day day, int count) {
    return date::year_month_day{date::sys_days{day} - date::days{count}};
}

TEST(ListeningStatsTest, AnEmptyHistoryHasNothingAtAll) {
    const Date today = at(berlin, december5, 12h);
    const auto stats = computeListeningStats({}, today, today, calendar(berlin));
    EXPECT_EQ(stats, ListeningStats{});
    EXPECT_FALSE(stats.mostPlayedSoundTrack.has_value());
    EXPECT_EQ(stats.totalListeningMinutes(), 0);
    EXPECT_EQ(stats.totalListeningHours(), 0);
}

struct SessionCase {
    const char* name;
    std::vector<PlayEvent> events;
    double totalListeningTime;
    double longestSession;
    std::int64_t totalPlaysCount;
};

TEST(ListeningStatsTest, SessionsJoinEventsThatOverlapOrTouch) {
    const Date ten = at(berlin, december5, 10h);
    const Date currentDate = at(berlin, december5, 18h);
    const Date now = at(berlin, december5, 20h);
    const auto e = [&](SoundTrack soundTrack, double offset, std::optional<double> length) {
        return event(soundTrack, ten.addingTimeInterval(offset), length);
    };
    const SoundTrack rain = SoundTrack::rain, fan = SoundTrack::fan, waves = SoundTrack::waves;
    const double open = currentDate.timeIntervalSince(ten.addingTimeInterval(3600));
    const double lone = now.timeIntervalSince(ten);
    const std::vector<SessionCase> cases = {
        {"overlapping sounds", {e(rain, 0, 1800), e(fan, 900, 2700)}, 3600, 3600, 1},
        {"touching at 10:30", {e(rain, 0, 1800), e(fan, 1800, 1800)}, 3600, 3600, 1},
        {"one second apart", {e(rain, 0, 1800), e(fan, 1801, 1799)}, 3599, 1800, 2},
        {"a short play inside a long one", {e(rain, 0, 7200), e(fan, 600, 60)}, 7200, 7200, 1},
        {"recorded out of order", {e(rain, 7200, 600), e(fan, 0, 300), e(waves, 200, 400)}, 1200, 600, 2},
        {"the same sound twice in a row", {e(rain, 0, 600), e(rain, 600, 600)}, 1200, 1200, 1},
        // With several events, a session still open ends at the date asked about, not at the clock.
        {"open after a closed one", {e(rain, 0, 600), e(fan, 3600, std::nullopt)}, 600 + open, open, 2},
        // A lone open event runs until the clock's present.
        {"a lone open event", {e(rain, 0, std::nullopt)}, lone, lone, 1},
        {"a lone closed event", {e(rain, 0, 42.5)}, 42.5, 42.5, 1},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        const auto stats = computeListeningStats(testCase.events, currentDate, now, calendar(berlin));
        EXPECT_DOUBLE_EQ(stats.totalListeningTime, testCase.totalListeningTime);
        EXPECT_DOUBLE_EQ(stats.longestSession, testCase.longestSession);
        EXPECT_EQ(stats.totalPlaysCount, testCase.totalPlaysCount);
    }
}

TEST(ListeningStatsTest, PerSoundTotalsCountEveryEventOfTheSound) {
    const Date ten = at(berlin, december5, 10h);
    const Date now = at(berlin, december5, 12h);
    const std::vector<PlayEvent> events = {
        event(SoundTrack::rain, ten, 1800),
        event(SoundTrack::fan, ten.addingTimeInterval(900), 2700),
        event(SoundTrack::rain, ten.addingTimeInterval(-86400), 600),
        // Still playing: counts until the clock's present in its sound's total.
        event(SoundTrack::waves, now.addingTimeInterval(-120), std::nullopt),
    };
    const auto stats = computeListeningStats(events, at(berlin, december5, 23h), now, calendar(berlin));
    EXPECT_DOUBLE_EQ(stats.totalTimePerSoundTrack.at(SoundTrack::rain), 2400);
    EXPECT_DOUBLE_EQ(stats.totalTimePerSoundTrack.at(SoundTrack::fan), 2700);
    EXPECT_DOUBLE_EQ(stats.totalTimePerSoundTrack.at(SoundTrack::waves), 120);
    EXPECT_EQ(stats.playCountPerSoundTrack.at(SoundTrack::rain), 2);
    EXPECT_EQ(stats.playCountPerSoundTrack.at(SoundTrack::fan), 1);
    // The latest start wins even though it was recorded first.
    EXPECT_EQ(stats.lastPlayedDatePerSoundTrack.at(SoundTrack::rain), ten);
    EXPECT_EQ(stats.mostPlayedSoundTrack, SoundTrack{SoundTrack::fan});
    EXPECT_EQ(stats.totalTimePerSoundTrack.size(), 3u);
    EXPECT_FALSE(stats.totalTimePerSoundTrack.contains(SoundTrack::train));
}

TEST(ListeningStatsTest, EqualTotalsGoToTheSoundPlayedLast) {
    const Date ten = at(berlin, december5, 10h);
    const std::vector<PlayEvent> events = {
        event(SoundTrack::train, ten, 600),
        event(SoundTrack::whiteNoise, ten.addingTimeInterval(3600), 600),
        event(SoundTrack::owl, ten.addingTimeInterval(1800), 600),
    };
    const auto stats = computeListeningStats(events, ten, ten, calendar(berlin));
    EXPECT_EQ(stats.mostPlayedSoundTrack, SoundTrack{SoundTrack::whiteNoise});
}

struct StreakCase {
    const char* name;
    const char* zone;
    std::vector<Date> starts;
    Date currentDate;
    std::int64_t longestStreak;
    std::int64_t currentStreak;
    std::set<std::int64_t> indexes;
};

std::vector<Date> dailyStarts(const char* zone, date::year_month_day last, int days,
                              std::chrono::minutes timeOfDay) {
    std::vector<Date> starts;
    for (int back = days - 1; back >= 0; --back) {
        starts.push_back(at(zone, daysBefore(last, back), timeOfDay));
    }
    return starts;
}

TEST(ListeningStatsTest, StreaksAndRecentDaysFollowTheLocalCalendar) {
    const auto day = [](date::month month, unsigned d) {
        return date::year_month_day{date::year{2026}, month, date::day{d}};
    };
    const auto b = [&](date::month month, unsigned d, std::chrono::minutes time) {
        return at(berlin, day(month, d), time);
    };
    const auto ny = [&](date::month month, unsigned d, std::chrono::minutes time) {
        return at(newYork, day(month, d), time);
    };
    const auto bBefore = [&](int days, std::chrono::minutes time) {
        return at(berlin, daysBefore(december5, days), time);
    };
    std::set<std::int64_t> firstThirty;
    for (std::int64_t i = 0; i < 30; ++i) {
        firstThirty.insert(i);
    }
    const Date noonToday = b(December, 5, 12h);
    const std::vector<StreakCase> cases = {
        {"today and yesterday", berlin, {bBefore(0, 9h), bBefore(1, 22h)}, noonToday, 2, 2, {0, 1}},
        {"yesterday and the day before, none yet today",
         berlin,
         {bBefore(1, 9h), bBefore(2, 9h)},
         noonToday,
         2,
         2,
         {1, 2}},
        {"only two days ago", berlin, {bBefore(2, 9h)}, noonToday, 1, 0, {2}},
        {"only forty days ago", berlin, {bBefore(40, 9h)}, noonToday, 1, 0, {}},
        {"every day from forty days ago to today", berlin, dailyStarts(berlin, december5, 41, 8h), noonToday,
         41, 41, firstThirty},
        {"several plays on one day count once",
         berlin,
         {bBefore(0, 1h), bBefore(0, 9h), bBefore(0, 23h + 59min)},
         noonToday,
         1,
         1,
         {0}},
        {"days 1, 2, 3, 5 and 6 of a month",
         berlin,
         {b(November, 1, 10h), b(November, 2, 10h), b(November, 3, 10h), b(November, 5, 10h),
          b(November, 6, 10h)},
         b(November, 6, 20h),
         3,
         2,
         {0, 1, 3, 4, 5}},
        {"across the end of January",
         berlin,
         {b(January, 30, 23h), b(January, 31, 0min), b(February, 1, 23h + 30min), b(February, 2, 6h)},
         b(February, 3, 8h),
         4,
         4,
         {1, 2, 3, 4}},
        // Just after midnight in Berlin is still the day before in UTC: counted in UTC days, every
        // play would move a day back and today would have none.
        {"just after local midnight",
         berlin,
         {at(berlin, date::year_month_day{date::year{2025}, December, date::day{31}}, 30min),
          b(January, 1, 30min), b(January, 2, 30min)},
         b(January, 2, 12h),
         3,
         3,
         {0, 1, 2}},
        // New York evenings are the next day in UTC, New York noon is not.
        {"late evenings in New York",
         newYork,
         {ny(March, 1, 21h), ny(March, 2, 21h), ny(March, 3, 21h)},
         ny(March, 4, 12h),
         3,
         3,
         {1, 2, 3}},
        // 29 March has 23 hours in Berlin, 25 October has 25.
        {"over the spring clock change",
         berlin,
         {b(March, 28, 23h + 30min), b(March, 29, 23h + 30min), b(March, 30, 15min)},
         b(March, 31, 30min),
         3,
         3,
         {1, 2, 3}},
        {"over the autumn clock change",
         berlin,
         {b(October, 24, 23h + 30min), b(October, 25, 15min), b(October, 25, 23h + 45min),
          b(October, 26, 5min)},
         b(October, 26, 23h + 50min),
         3,
         3,
         {0, 1, 2}},
        {"over New York's spring and autumn changes",
         newYork,
         {ny(March, 7, 23h + 30min), ny(March, 8, 23h + 30min), ny(October, 31, 23h + 30min),
          ny(November, 1, 30min), ny(November, 1, 23h + 30min), ny(November, 2, 1min)},
         ny(November, 2, 23h),
         3,
         3,
         {0, 1, 2}},
        {"a break ends the longest run",
         berlin,
         {b(April, 1, 10h), b(April, 2, 10h), b(April, 4, 10h), b(April, 5, 10h), b(April, 6, 10h),
          b(April, 7, 10h)},
         b(April, 20, 10h),
         4,
         0,
         {13, 14, 15, 16, 18, 19}},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        std::vector<PlayEvent> events;
        for (const Date start : testCase.starts) {
            events.push_back(event(SoundTrack::rain, start, 60));
        }
        const auto stats = computeListeningStats(events, testCase.currentDate, testCase.currentDate,
                                                 calendar(testCase.zone));
        EXPECT_EQ(stats.longestStreak, testCase.longestStreak);
        EXPECT_EQ(stats.currentStreak, testCase.currentStreak);
        EXPECT_EQ(stats.lastThirtyDaysPlayedIndexes, testCase.indexes);
    }
}

TEST(ListeningStatsTest, APlayOverMidnightCountsForTheDayItBegan) {
    const Date lateYesterday = at(berlin, daysBefore(december5, 1), 23h + 50min);
    const std::vector<PlayEvent> events = {event(SoundTrack::rain, lateYesterday, 3600)};
    const auto stats = computeListeningStats(events, at(berlin, december5, 12h), at(berlin, december5, 12h),
                                             calendar(berlin));
    EXPECT_EQ(stats.lastThirtyDaysPlayedIndexes, (std::set<std::int64_t>{1}));
    EXPECT_EQ(stats.currentStreak, 1);
    EXPECT_EQ(stats.longestStreak, 1);
}

TEST(ListeningStatsTest, TheSameHistoryGivesOtherDaysInAnotherZone) {
    // 00:30 in Berlin is 18:30 the evening before in New York.
    const std::vector<PlayEvent> events = {
        event(SoundTrack::rain, at(berlin, daysBefore(december5, 1), 0h + 30min), 60),
        event(SoundTrack::rain, at(berlin, december5, 0h + 30min), 60)};
    const Date currentDate = at(berlin, december5, 12h);
    EXPECT_EQ(
        computeListeningStats(events, currentDate, currentDate, calendar(berlin)).lastThirtyDaysPlayedIndexes,
        (std::set<std::int64_t>{0, 1}));
    EXPECT_EQ(computeListeningStats(events, currentDate, currentDate, calendar(newYork))
                  .lastThirtyDaysPlayedIndexes,
              (std::set<std::int64_t>{1, 2}));
}

TEST(ListeningStatsTest, ADateTheCalendarCannotPlaceIsReportedAndCountsNothing) {
    const test::AnalyticsRecorder analytics;
    const Date today = at(berlin, december5, 12h);
    const std::vector<PlayEvent> events = {event(SoundTrack::rain, today, 60)};
    const auto stats =
        computeListeningStats(events, Date{std::numeric_limits<double>::infinity()}, today, calendar(berlin));
    EXPECT_EQ(stats.currentStreak, 0);
    EXPECT_TRUE(stats.lastThirtyDaysPlayedIndexes.empty());
    EXPECT_DOUBLE_EQ(stats.totalListeningTime, 60);
    const auto reports = analytics.all();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].message, "How did we not get a date?!");
    EXPECT_EQ(reports[0].file, "SomnaraKit/StatsTracker");
    EXPECT_EQ(reports[0].function, "stats(currentDate:)");
    EXPECT_EQ(reports[0].line, 243);
}

TEST(ListeningStatsTest, MinutesAndHoursDeriveFromTheTotal) {
    ListeningStats stats;
    const std::vector<std::tuple<double, double, std::int64_t>> cases = {
        {0, 0, 0},          {-30, 0, 0},
        {59, 59.0 / 60, 0}, {3599.9, 3599.9 / 60, 0},
        {3600, 60, 1},      {7199, 7199.0 / 60, 1},
        {36000, 600, 10}};
    for (const auto& [total, minutes, hours] : cases) {
        stats.totalListeningTime = total;
        EXPECT_DOUBLE_EQ(stats.totalListeningMinutes(), minutes) << total;
        EXPECT_EQ(stats.totalListeningHours(), hours) << total;
    }
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
        {"America/Santiago", {date::year{2026}, date::September, date::day{6}}, "2026-09-06T01:00:00-03:00"},
    };
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
        {"2026-12-05T21:30:00Z", "2026-12-05T22:30:00+01:00"},
        {"2026-12-05T16:30:00-0500", "2026-12-05T22:30:00+01:00"},
        {"2026-12-05T22:30:00", "2026-12-05T22:30:00+01:00"},
        {"2026-07-05 22:30", "2026-07-05T22:30:00+02:00"},
        // Happens twice when the clocks go back: the first of the two.
        {"2026-10-25T02:30:00", "2026-10-25T02:30:00+02:00"},
        // A day alone counts in full.
        {"2026-03-29", "2026-03-29T23:59:59+02:00"},
        {"2026-12-05T22:30:00+01:00 and more", std::nullopt},
        {"yesterday", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& [text, expected] : cases) {
        const auto parsed = berlinCalendar.parseDate(text);
        ASSERT_EQ(parsed.has_value(), expected.has_value()) << text;
        if (parsed) {
            EXPECT_EQ(berlinCalendar.isoString(*parsed), *expected) << text;
        }
    }
}

TEST(UserCalendarTest, TheCurrentZoneComesFromTZ) {
    test::ScopedEnvironment environment;
    const std::vector<std::pair<const char*, std::string>> cases = {
        {"Europe/Berlin", "Europe/Berlin"}, {":America/New_York", "America/New_York"}};
    for (const auto& [value, zone] : cases) {
        environment.set("TZ", value);
        EXPECT_EQ(UserCalendar::current().zoneName(), zone);
    }
    // An unknown name falls back to the system's zone rather than failing.
    environment.set("TZ", "Nowhere/Special");
    EXPECT_FALSE(UserCalendar::current().zoneName().empty());
}

} // namespace
