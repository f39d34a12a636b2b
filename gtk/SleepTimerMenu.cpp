#include "SleepTimerMenu.hpp"

#include <somnara/player/NoisePlayer.hpp>

#include <giomm/menu.h>

#include <cmath>
#include <cstdio>

namespace somnara::gtk {

namespace {

// What the menu offers, in minutes; only those within the player's range are shown.
constexpr int offeredMinutes[] = {5, 15, 30, 45, 60, 90, 120, 180};

std::string durationText(int minutes) {
    if (minutes < 60) {
        return std::to_string(minutes) + " min";
    }
    return std::to_string(minutes / 60) + " h" +
           (minutes % 60 != 0 ? " " + std::to_string(minutes % 60) + " min" : "");
}

} // namespace

SleepTimerMenu::SleepTimerMenu(DaemonProxy& daemon)
    : daemon_(daemon), actions_(Gio::SimpleActionGroup::create()) {
    using app::bus::playerInterface;
    set_name("timer");
    set_icon_name("alarm-symbolic");
    set_tooltip_text("Sleep timer");
    const auto menu = Gio::Menu::create();
    for (const int minutes : offeredMinutes) {
        const double seconds = minutes * 60.0;
        if (!NoisePlayer::sleepRange.contains(seconds) || seconds <= NoisePlayer::sleepRange.lowerBound) {
            continue;
        }
        const auto name = "start-" + std::to_string(minutes);
        actions_->add_action(
            name, [this, seconds] { daemon_.call(playerInterface, "StartSleepTimer", std::tuple{seconds}); });
        menu->append(durationText(minutes), "timer." + name);
    }
    actions_->add_action("cancel",
                         [this] { daemon_.call(playerInterface, "CancelSleepTimer", std::tuple{}); });
    menu->append("Cancel the timer", "timer.cancel");
    insert_action_group("timer", actions_);
    set_menu_model(menu);
    showRemaining(-1);
    daemon_.signalChanged().connect(
        [this](const std::string& interface, const DaemonProxy::Properties& properties) {
            const auto remaining = properties.find("SleepTimeRemaining");
            if (interface == playerInterface && remaining != properties.end()) {
                showRemaining(remaining->second.get<double>());
            }
        });
}

void SleepTimerMenu::showRemaining(double seconds) {
    const bool running = seconds >= 0;
    const auto cancel = std::static_pointer_cast<Gio::SimpleAction>(actions_->lookup_action("cancel"));
    if (running != cancel->get_enabled()) {
        g_debug("sleep timer %s", running ? "runs" : "off");
    }
    cancel->set_enabled(running);
    if (!running) {
        set_label("");
        set_icon_name("alarm-symbolic");
        return;
    }
    const auto whole = static_cast<long>(std::ceil(seconds));
    char text[32];
    std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", whole / 3600, whole / 60 % 60, whole % 60);
    set_label(text);
}

} // namespace somnara::gtk
