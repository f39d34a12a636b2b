#include "Commands.hpp"
#include "DaemonClient.hpp"
#include "Durations.hpp"

#include <memory>
#include <string>
#include <vector>

namespace somnara::app {

void addPlayerCommands(CLI::App& app) {
    auto sounds = std::make_shared<std::vector<std::string>>();
    auto* play = app.add_subcommand("play", "Play: these sounds, if given, else the selection");
    play->add_option("SOUND", *sounds, "Identifiers or English names to select first");
    play->callback([sounds] {
        requireDaemon("cannot play", [&](DaemonClient& daemon) {
            daemon.call(bus::playerInterface, "Play", std::tuple{*sounds});
        });
    });

    app.add_subcommand("pause", "Pause at once; `somnara play` resumes")->callback([] {
        requireDaemon("cannot pause",
                      [](DaemonClient& daemon) { daemon.call(bus::playerInterface, "Pause", std::tuple{}); });
    });
    app.add_subcommand("stop", "Stop with the stop fade")->callback([] {
        requireDaemon("cannot stop",
                      [](DaemonClient& daemon) { daemon.call(bus::playerInterface, "Stop", std::tuple{}); });
    });

    auto duration = std::make_shared<std::string>();
    auto* timer = app.add_subcommand(
        "timer", "Fade to silence and stop after DURATION (90, 90s, 10m, 1h); `cancel` ends it");
    timer->add_option("DURATION", *duration, "How long until the end of the final fade, or cancel")
        ->required();
    timer->callback([duration] {
        if (*duration == "cancel") {
            requireDaemon("cannot cancel the sleep timer", [](DaemonClient& daemon) {
                daemon.call(bus::playerInterface, "CancelSleepTimer", std::tuple{});
            });
            return;
        }
        const double seconds = parseDuration(*duration, "DURATION");
        requireDaemon("cannot start a sleep timer", [&](DaemonClient& daemon) {
            daemon.call(bus::playerInterface, "StartSleepTimer", std::tuple{seconds});
        });
    });
}

} // namespace somnara::app
