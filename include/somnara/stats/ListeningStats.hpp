#pragma once

#include <somnara/catalogue/SoundTrack.hpp>
#include <somnara/runtime/Date.hpp>
#include <somnara/stats/PlayEvent.hpp>
#include <somnara/stats/UserCalendar.hpp>

#include <cstdint>
#include <optional>
#include <set>
#include <unordered_map>
#include <vector>

namespace somnara {

/// The listening statistics of a history, as of one date. A plain value.
struct ListeningStats {
    /// The sound with the largest total time; none without events.
    std::optional<SoundTrack> mostPlayedSoundTrack;
    /// Seconds covered by at least one event: overlapping events count once.
    double totalListeningTime = 0;
    /// Sessions, not events: a session is a run of events that overlap or touch.
    std::int64_t totalPlaysCount = 0;
    /// Summed seconds of each sound's events (overlaps with other sounds included).
    std::unordered_map<SoundTrack, double> totalTimePerSoundTrack;
    std::unordered_map<SoundTrack, std::int64_t> playCountPerSoundTrack;
    /// The latest start of each sound's events.
    std::unordered_map<SoundTrack, Date> lastPlayedDatePerSoundTrack;
    /// Seconds of the longest session.
    double longestSession = 0;
    /// The longest run of consecutive days with an event start.
    std::int64_t longestStreak = 0;
    /// The run of consecutive days with plays ending today, or yesterday when today has none yet.
    std::int64_t currentStreak = 0;
    /// For each of the last thirty days with an event start, how many days ago it was (0 is today).
    std::set<std::int64_t> lastThirtyDaysPlayedIndexes;

    double totalListeningMinutes() const noexcept {
        return totalListeningTime > 0 ? totalListeningTime / 60 : 0;
    }
    std::int64_t totalListeningHours() const noexcept {
        return totalListeningTime > 0 ? static_cast<std::int64_t>(totalListeningTime / 60 / 60) : 0;
    }

    /// Sample statistics for previews and screenshots.
    static ListeningStats stub();

    friend bool operator==(const ListeningStats&, const ListeningStats&) = default;
};

/// Computes the statistics of `events` as of `currentDate`, in `calendar`'s days.
///
/// `now` is the clock's present: an open event counts until `now` in the per-sound times and when it
/// is the only event; with several events a session still open ends at `currentDate`. Never fails: a
/// day the calendar cannot give is reported as a logged assertion and the days counted so far stand.
ListeningStats computeListeningStats(const std::vector<PlayEvent>& events, Date currentDate, Date now,
                                     const UserCalendar& calendar);

} // namespace somnara
