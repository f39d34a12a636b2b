#include "Durations.hpp"

#include <CLI/CLI.hpp>

#include <cmath>
#include <map>

namespace somnara::app {

namespace {

/// The longest duration: a week is more than any night, and far from overflowing a frame count.
constexpr double maximumDurationSeconds = 7 * 24 * 3600;

} // namespace

double parseDuration(const std::string& text, const std::string& option) {
    static const std::map<std::string, double> unitSeconds{{"", 1.0}, {"s", 1.0}, {"m", 60.0}, {"h", 3600.0}};
    std::size_t end = 0;
    double value = 0;
    try {
        value = std::stod(text, &end);
    } catch (const std::exception&) {
        end = 0;
    }
    const auto unit = unitSeconds.find(text.substr(end));
    if (end == 0 || unit == unitSeconds.end() || !std::isfinite(value) || value <= 0) {
        throw CLI::ValidationError(option, "'" + text + "' is not a duration such as 90, 90s, 10m or 1h");
    }
    if (value * unit->second > maximumDurationSeconds) {
        throw CLI::ValidationError(option, "'" + text + "' is longer than a week, the longest duration");
    }
    return value * unit->second;
}

} // namespace somnara::app
