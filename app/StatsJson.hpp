#pragma once

#include <somnara/stats/ListeningStats.hpp>
#include <somnara/stats/UserCalendar.hpp>

#include <nlohmann/json.hpp>

#include <cstdint>
#include <map>
#include <vector>

namespace somnara::app {

/// The statistics as `somnara stats --json` prints them and the daemon's statistics interface returns
/// them: seconds, ISO 8601 dates in `calendar`'s zone, sounds by identifier.
nlohmann::ordered_json statsJSON(const ListeningStats& stats, const UserCalendar& calendar);

/// Seconds of listening per local day number, each event counted whole on the day it began (as the
/// streaks count it); an open event runs until `now`.
std::map<std::int64_t, double> listeningPerDay(const std::vector<PlayEvent>& events, Date now,
                                               const UserCalendar& calendar);

} // namespace somnara::app
