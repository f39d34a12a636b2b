#include "StatisticsView.hpp"

#include <somnara/catalogue/SoundTrack.hpp>

#include <nlohmann/json.hpp>

#include <cstdio>

namespace somnara::gtk {

namespace {

std::string hoursAndMinutes(double seconds) {
    const auto minutes = static_cast<long>(seconds / 60);
    char text[32];
    std::snprintf(text, sizeof text, "%ld h %02ld min", minutes / 60, minutes % 60);
    return text;
}

std::string days(std::int64_t count) {
    return std::to_string(count) + (count == 1 ? " day" : " days");
}

} // namespace

StatisticsView::StatisticsView(DaemonProxy& daemon)
    : Gtk::Box(Gtk::Orientation::VERTICAL, 18), daemon_(daemon) {
    set_name("statistics");
    set_margin(24);
    figures_.set_row_spacing(8);
    figures_.set_column_spacing(24);
    auto* heading = Gtk::make_managed<Gtk::Label>("The last 30 days", Gtk::Align::START);
    heading->add_css_class("heading");
    append(figures_);
    append(*heading);
    append(chart_);
}

void StatisticsView::load() {
    using app::bus::statisticsInterface;
    daemon_.call(statisticsInterface, "Stats", std::tuple{}, [this](std::string json) {
        daemon_.call(statisticsInterface, "LastThirtyDays", std::tuple{},
                     [this, json](std::vector<double> seconds) {
                         chart_.show(std::move(seconds));
                         show(json);
                     });
    });
}

void StatisticsView::show(const std::string& text) {
    const auto stats = nlohmann::json::parse(text);
    const auto mostPlayed = stats["mostPlayedSoundTrack"].is_string()
                                ? SoundTrack::fromIdentifier(stats["mostPlayedSoundTrack"].get<std::string>())
                                : std::nullopt;
    const std::pair<const char*, std::string> rows[] = {
        {"Total listening", hoursAndMinutes(stats["totalListeningTime"].get<double>())},
        {"Sessions", std::to_string(stats["totalPlaysCount"].get<std::int64_t>())},
        {"Longest session", hoursAndMinutes(stats["longestSession"].get<double>())},
        {"Current streak", days(stats["currentStreak"].get<std::int64_t>())},
        {"Longest streak", days(stats["longestStreak"].get<std::int64_t>())},
        {"Most played", mostPlayed ? mostPlayed->name() : "—"},
    };
    while (auto* child = figures_.get_first_child()) {
        figures_.remove(*child);
    }
    int row = 0;
    for (const auto& [name, value] : rows) {
        figures_.attach(*Gtk::make_managed<Gtk::Label>(name, Gtk::Align::START), 0, row);
        auto* figure = Gtk::make_managed<Gtk::Label>(value, Gtk::Align::START);
        figure->add_css_class("title-4");
        figures_.attach(*figure, 1, row++);
    }
    g_debug("statistics shown");
}

} // namespace somnara::gtk
