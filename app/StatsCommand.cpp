#include "Commands.hpp"
#include "Home.hpp"
#include "StatsJson.hpp"

#include <somnara/runtime/Loop.hpp>
#include <somnara/stats/ListeningStats.hpp>
#include <somnara/stats/StandardStatsStore.hpp>
#include <somnara/stats/UserCalendar.hpp>

#include <nlohmann/json.hpp>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace somnara::app {
namespace {

struct StatsOptions {
    bool json = false;
    std::string at;
};

/// "2 h 05 min", "12 min", "40 s".
std::string duration(double seconds) {
    if (!(seconds > 0)) {
        return "0 min";
    }
    const auto total = static_cast<long long>(std::llround(seconds));
    char text[48];
    if (total < 60) {
        std::snprintf(text, sizeof text, "%lld s", total);
    } else if (total < 3600) {
        std::snprintf(text, sizeof text, "%lld min", total / 60);
    } else {
        std::snprintf(text, sizeof text, "%lld h %02lld min", total / 3600, total % 3600 / 60);
    }
    return text;
}

std::string days(std::int64_t count) {
    return std::to_string(count) + (count == 1 ? " day" : " days");
}

} // namespace

nlohmann::ordered_json statsJSON(const ListeningStats& stats, const UserCalendar& calendar) {
    nlohmann::ordered_json out = nlohmann::ordered_json::object();
    out["mostPlayedSoundTrack"] =
        stats.mostPlayedSoundTrack
            ? nlohmann::ordered_json(std::string(stats.mostPlayedSoundTrack->identifier()))
            : nlohmann::ordered_json();
    out["totalListeningTime"] = stats.totalListeningTime;
    out["totalPlaysCount"] = stats.totalPlaysCount;
    // Keyed by identifier, in catalogue order so that two runs print the same text.
    nlohmann::ordered_json perSoundTime = nlohmann::ordered_json::object();
    nlohmann::ordered_json perSoundCount = nlohmann::ordered_json::object();
    nlohmann::ordered_json perSoundLast = nlohmann::ordered_json::object();
    for (const SoundTrack soundTrack : SoundTrack::allCases()) {
        const std::string key(soundTrack.identifier());
        if (const auto found = stats.totalTimePerSoundTrack.find(soundTrack);
            found != stats.totalTimePerSoundTrack.end()) {
            perSoundTime[key] = found->second;
        }
        if (const auto found = stats.playCountPerSoundTrack.find(soundTrack);
            found != stats.playCountPerSoundTrack.end()) {
            perSoundCount[key] = found->second;
        }
        if (const auto found = stats.lastPlayedDatePerSoundTrack.find(soundTrack);
            found != stats.lastPlayedDatePerSoundTrack.end()) {
            perSoundLast[key] = calendar.isoString(found->second);
        }
    }
    out["totalTimePerSoundTrack"] = perSoundTime;
    out["playCountPerSoundTrack"] = perSoundCount;
    out["lastPlayedDatePerSoundTrack"] = perSoundLast;
    out["longestSession"] = stats.longestSession;
    out["longestStreak"] = stats.longestStreak;
    out["currentStreak"] = stats.currentStreak;
    out["lastThirtyDaysPlayedIndexes"] = std::vector<std::int64_t>(stats.lastThirtyDaysPlayedIndexes.begin(),
                                                                   stats.lastThirtyDaysPlayedIndexes.end());
    out["totalListeningMinutes"] = stats.totalListeningMinutes();
    out["totalListeningHours"] = stats.totalListeningHours();
    return out;
}

std::map<std::int64_t, double> listeningPerDay(const std::vector<PlayEvent>& events, Date now,
                                               const UserCalendar& calendar) {
    std::map<std::int64_t, double> perDay;
    for (const auto& event : events) {
        if (const auto day = calendar.dayNumber(event.start)) {
            perDay[*day] += std::max(0.0, event.end.value_or(now).timeIntervalSince(event.start));
        }
    }
    return perDay;
}

namespace {

/// The last thirty days as a calendar: one row per week, Monday first, each day a block whose shade
/// grows with that day's listening (none, under 30 minutes, under 2 hours, under 5 hours, more).
void printHeatmap(const ListeningStats& stats, const std::map<std::int64_t, double>& perDay,
                  std::int64_t today, bool colour) {
    static const char* const blocks[] = {"··", "░░", "▒▒", "▓▓", "██"};
    // 256-colour greens from faint to strong; the empty day in dim grey.
    static const int colours[] = {240, 22, 28, 34, 46};
    const auto level = [&](std::int64_t day, std::int64_t index) {
        if (!stats.lastThirtyDaysPlayedIndexes.contains(index)) {
            return 0;
        }
        const auto found = perDay.find(day);
        const double seconds = found == perDay.end() ? 0 : found->second;
        return seconds < 30 * 60 ? 1 : seconds < 2 * 3600 ? 2 : seconds < 5 * 3600 ? 3 : 4;
    };
    const std::int64_t first = today - 29;
    // Weekday of day 0 (1 January 1970) was a Thursday: Monday-based index 3.
    const auto weekday = [](std::int64_t day) { return static_cast<int>(((day % 7) + 7 + 3) % 7); };
    std::cout << "  Mo Tu We Th Fr Sa Su\n";
    std::int64_t day = first - weekday(first);
    while (day <= today) {
        std::cout << ' ';
        for (int column = 0; column < 7; ++column, ++day) {
            std::cout << ' ';
            if (day < first || day > today) {
                std::cout << "  ";
                continue;
            }
            const int shade = level(day, today - day);
            if (colour) {
                std::cout << "\x1b[38;5;" << colours[shade] << 'm' << blocks[shade] << "\x1b[0m";
            } else {
                std::cout << blocks[shade];
            }
        }
        // The date of the week's Monday, so the rows can be placed.
        std::cout << "   " << UserCalendar::isoDayString(day - 7) << '\n';
    }
    std::cout << "  ·· none  ░░ <30 min  ▒▒ <2 h  ▓▓ <5 h  ██ 5 h+\n";
}

void printForPeople(const ListeningStats& stats, const std::vector<PlayEvent>& events, Date currentDate,
                    Date now, const UserCalendar& calendar) {
    const bool colour = ::isatty(STDOUT_FILENO) == 1;
    const auto bold = [&](const std::string& text) { return colour ? "\x1b[1m" + text + "\x1b[0m" : text; };
    std::cout << bold("Listening statistics") << " as of " << calendar.isoString(currentDate) << " ("
              << calendar.zoneName() << ")\n\n";
    if (events.empty()) {
        std::cout << "Nothing listened to yet.\n";
        return;
    }
    std::cout << "Total listening   " << duration(stats.totalListeningTime) << '\n'
              << "Sessions          " << stats.totalPlaysCount << '\n'
              << "Longest session   " << duration(stats.longestSession) << '\n'
              << "Current streak    " << days(stats.currentStreak) << '\n'
              << "Longest streak    " << days(stats.longestStreak) << '\n'
              << "Most played       "
              << (stats.mostPlayedSoundTrack ? stats.mostPlayedSoundTrack->name() : "-") << "\n\n";

    std::vector<std::pair<SoundTrack, double>> perSound(stats.totalTimePerSoundTrack.begin(),
                                                        stats.totalTimePerSoundTrack.end());
    std::sort(perSound.begin(), perSound.end(), [](const auto& lhs, const auto& rhs) {
        return lhs.second != rhs.second ? lhs.second > rhs.second
                                        : lhs.first.rawValue() < rhs.first.rawValue();
    });
    std::size_t nameWidth = 5;
    for (const auto& [soundTrack, seconds] : perSound) {
        nameWidth = std::max(nameWidth, soundTrack.name().size());
    }
    std::cout << bold("Time per sound") << '\n';
    for (const auto& [soundTrack, seconds] : perSound) {
        std::string name = soundTrack.name();
        name.resize(nameWidth, ' ');
        char line[160];
        const auto plays = stats.playCountPerSoundTrack.at(soundTrack);
        const auto last = calendar.dayNumber(stats.lastPlayedDatePerSoundTrack.at(soundTrack));
        std::snprintf(line, sizeof line, "  %s  %12s  %5lld %-5s  last %s\n", name.c_str(),
                      duration(seconds).c_str(), static_cast<long long>(plays), plays == 1 ? "play" : "plays",
                      last ? UserCalendar::isoDayString(*last).c_str() : "-");
        std::cout << line;
    }
    std::cout << '\n' << bold("Last 30 days") << '\n';
    if (const auto today = calendar.dayNumber(currentDate)) {
        printHeatmap(stats, listeningPerDay(events, now, calendar), *today, colour);
    }
}

/// Whether an ISO 8601 text's UTC offset, when it has one, is one the world uses (-12:00 to +14:00, the
/// minutes below 60).
bool hasPlausibleOffset(const std::string& text) {
    const auto time = text.find_first_of("T ");
    const auto sign = text.find_last_of("+-");
    if (time == std::string::npos || sign == std::string::npos || sign < time) {
        return true;
    }
    std::string digits;
    for (const char c : text.substr(sign + 1)) {
        if (c != ':') {
            digits += c;
        }
    }
    if (digits.size() != 4 ||
        !std::all_of(digits.begin(), digits.end(), [](unsigned char c) { return std::isdigit(c); })) {
        return true; // Not an offset the parser takes; it refuses the text itself.
    }
    const int hours = std::stoi(digits.substr(0, 2));
    const int minutes = std::stoi(digits.substr(2));
    return minutes < 60 && (text[sign] == '+' ? hours <= 14 : hours <= 12);
}

void runStats(const StatsOptions& options) {
    sayStorageErrors();
    requireUsableHome();
    const auto calendar = UserCalendar::current();
    RealLoop loop;
    const Date now = loop.now();
    Date currentDate = now;
    if (!options.at.empty()) {
        const auto parsed = calendar.parseDate(options.at);
        if (!parsed) {
            throw CLI::ValidationError(
                "--at", "expected an ISO 8601 date such as 2026-12-05 or 2026-12-05T22:30:00+01:00");
        }
        if (!hasPlausibleOffset(options.at)) {
            throw CLI::ValidationError("--at",
                                       "'" + options.at + "' has a UTC offset beyond -12:00 to +14:00");
        }
        if (calendar.isoString(*parsed).empty() || !calendar.dayNumber(*parsed)) {
            throw CLI::ValidationError("--at", "'" + options.at + "' is outside the calendar's years");
        }
        currentDate = *parsed;
    }

    StandardStatsStore store;
    std::vector<PlayEvent> events;
    if (std::filesystem::exists(store.localDataPath())) {
        // Unlike the tracker, which starts afresh, a reader says what is wrong and leaves the file alone.
        try {
            events = store.load();
        } catch (const std::exception& error) {
            std::cerr << "somnara: cannot read " << store.localDataPath() << ": " << error.what() << '\n';
            throw CLI::RuntimeError(1);
        }
    }
    const auto stats = computeListeningStats(events, currentDate, now, calendar);
    if (options.json) {
        std::cout << statsJSON(stats, calendar).dump(2) << '\n';
    } else {
        printForPeople(stats, events, currentDate, now, calendar);
    }
}

} // namespace

void addStatsCommand(CLI::App& app) {
    auto* command =
        app.add_subcommand("stats", "Show listening statistics: totals, sessions, streaks, the last 30 days");
    auto options = std::make_shared<StatsOptions>();
    command->add_flag("--json", options->json,
                      "Print the statistics as JSON (seconds, ISO 8601 dates, sound identifiers)");
    command
        ->add_option("--at", options->at,
                     "Compute them as of DATE (ISO 8601; default now) in the time zone of TZ")
        ->option_text("DATE");
    command->callback([options] { runStats(*options); });
}

} // namespace somnara::app
