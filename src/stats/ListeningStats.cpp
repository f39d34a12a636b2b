#include <somnara/stats/ListeningStats.hpp>
#include <somnara/system/ZelAnalyticsLogger.hpp>

#include <algorithm>
#include <cstddef>
#include <numeric>

namespace somnara {

namespace {

// The farthest day back the walk over recent days may step; days are about ±3000 years wide.
constexpr std::int64_t earliestDayNumber = -1'100'000;

double endOrDefault(const PlayEvent& event, Date open) {
    return event.end.value_or(open).timeIntervalSinceReferenceDate;
}

struct Sessions {
    double total = 0;
    double longest = 0;
    std::int64_t count = 0;
};

Sessions sessionsOf(const std::vector<const PlayEvent*>& byStart, Date currentDate, Date now) {
    Sessions result;
    if (byStart.empty()) {
        return result;
    }
    if (byStart.size() == 1) {
        // A lone event still open runs until the clock's present, as its per-sound time does.
        const PlayEvent& only = *byStart.front();
        result.total = endOrDefault(only, now) - only.start.timeIntervalSinceReferenceDate;
        result.longest = result.total;
        result.count = 1;
        return result;
    }
    double sessionStart = byStart.front()->start.timeIntervalSinceReferenceDate;
    double sessionEnd = endOrDefault(*byStart.front(), currentDate);
    const auto close = [&] {
        const double length = sessionEnd - sessionStart;
        if (result.longest <= length) {
            result.longest = length;
        }
        result.count += 1;
        result.total += length;
    };
    for (std::size_t index = 1; index < byStart.size(); ++index) {
        const PlayEvent& event = *byStart[index];
        const double start = event.start.timeIntervalSinceReferenceDate;
        const double end = endOrDefault(event, currentDate);
        if (start > sessionEnd) {
            close();
            sessionStart = start;
            sessionEnd = end;
        } else if (end > sessionEnd) {
            // Starting exactly when the session ends continues it: touching events are one session.
            sessionEnd = end;
        }
    }
    close();
    return result;
}

std::optional<SoundTrack> mostPlayed(const ListeningStats& stats) {
    std::optional<SoundTrack> best;
    double bestTotal = 0;
    for (const auto& [soundTrack, total] : stats.totalTimePerSoundTrack) {
        if (!best || total > bestTotal) {
            best = soundTrack;
            bestTotal = total;
            continue;
        }
        if (total < bestTotal) {
            continue;
        }
        // Equal totals: the sound played most recently wins, as the one the user has on their mind;
        // then the catalogue order, so the answer never depends on a hash table's order.
        const Date candidateLast = stats.lastPlayedDatePerSoundTrack.at(soundTrack);
        const Date bestLast = stats.lastPlayedDatePerSoundTrack.at(*best);
        if (candidateLast > bestLast ||
            (candidateLast == bestLast && soundTrack.rawValue() < best->rawValue())) {
            best = soundTrack;
        }
    }
    return best;
}

} // namespace

ListeningStats ListeningStats::stub() {
    ListeningStats stats;
    stats.mostPlayedSoundTrack = SoundTrack::airConditioner;
    stats.totalListeningTime = 500;
    stats.totalPlaysCount = 50;
    stats.longestSession = 50;
    stats.longestStreak = 50;
    stats.currentStreak = 20;
    stats.lastThirtyDaysPlayedIndexes = {1, 2, 3};
    return stats;
}

ListeningStats computeListeningStats(const std::vector<PlayEvent>& events, Date currentDate, Date now,
                                     const UserCalendar& calendar) {
    ListeningStats stats;

    for (const PlayEvent& event : events) {
        stats.totalTimePerSoundTrack[event.soundTrack] +=
            endOrDefault(event, now) - event.start.timeIntervalSinceReferenceDate;
        stats.playCountPerSoundTrack[event.soundTrack] += 1;
        const auto [entry, inserted] =
            stats.lastPlayedDatePerSoundTrack.try_emplace(event.soundTrack, event.start);
        if (!inserted && event.start >= entry->second) {
            entry->second = event.start;
        }
    }
    stats.mostPlayedSoundTrack = mostPlayed(stats);

    std::vector<const PlayEvent*> byStart(events.size());
    std::transform(events.begin(), events.end(), byStart.begin(),
                   [](const PlayEvent& event) { return &event; });
    std::stable_sort(byStart.begin(), byStart.end(),
                     [](const PlayEvent* lhs, const PlayEvent* rhs) { return lhs->start < rhs->start; });

    const Sessions sessions = sessionsOf(byStart, currentDate, now);
    stats.totalListeningTime = sessions.total;
    stats.longestSession = sessions.longest;
    stats.totalPlaysCount = sessions.count;

    // Days of the starts, in start order; an event counts for the day it began, however late it ends.
    std::vector<std::optional<std::int64_t>> startDays(byStart.size());
    std::transform(byStart.begin(), byStart.end(), startDays.begin(),
                   [&](const PlayEvent* event) { return calendar.dayNumber(event->start); });

    std::int64_t run = 0;
    std::int64_t best = 0;
    for (std::size_t index = 0; index < startDays.size(); ++index) {
        if (index == 0) {
            run = 1;
            best = std::max<std::int64_t>(best, 1);
            continue;
        }
        const auto& previous = startDays[index - 1];
        const auto& current = startDays[index];
        if (!previous || !current) {
            continue;
        }
        const std::int64_t days = *current - *previous;
        if (days == 1) {
            run += 1;
            best = std::max(best, run);
        } else if (days >= 2) {
            run = 1;
        }
    }
    stats.longestStreak = best;

    std::vector<std::int64_t> playedDays;
    playedDays.reserve(startDays.size());
    for (const auto& day : startDays) {
        if (day) {
            playedDays.push_back(*day);
        }
    }
    std::sort(playedDays.begin(), playedDays.end());
    playedDays.erase(std::unique(playedDays.begin(), playedDays.end()), playedDays.end());
    const auto played = [&](std::int64_t day) {
        return std::binary_search(playedDays.begin(), playedDays.end(), day);
    };

    const auto reportMissingDay = [] {
        ZelAnalyticsLogger::shared().loggedAssertionFailure(
            "How did we not get a date?!", "SomnaraKit/StatsTracker", "stats(currentDate:)", 243);
    };
    const auto today = calendar.dayNumber(currentDate);
    if (!today) {
        reportMissingDay();
        return stats;
    }
    std::int64_t day = *today;
    std::int64_t index = 0;
    bool counting = true;
    bool first = true;
    std::int64_t streak = 0;
    do {
        if (played(day)) {
            if (counting) {
                streak += 1;
            }
            if (index < 30) {
                stats.lastThirtyDaysPlayedIndexes.insert(index);
            }
        } else {
            // A day without plays ends the count, except today, which may simply not have had one yet.
            counting = counting && first;
        }
        if (day - 1 < earliestDayNumber) {
            reportMissingDay();
            break;
        }
        day -= 1;
        index += 1;
        first = false;
    } while (counting || index < 30);
    stats.currentStreak = streak;
    return stats;
}

} // namespace somnara
