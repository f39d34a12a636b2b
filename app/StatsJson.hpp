#pragma once

#include <somnara/stats/ListeningStats.hpp>
#include <somnara/stats/UserCalendar.hpp>

#include <nlohmann/json.hpp>

namespace somnara::app {

/// The statistics as `somnara stats --json` prints them and the daemon's statistics interface returns
/// them: seconds, ISO 8601 dates in `calendar`'s zone, sounds by identifier.
nlohmann::ordered_json statsJSON(const ListeningStats& stats, const UserCalendar& calendar);

} // namespace somnara::app
