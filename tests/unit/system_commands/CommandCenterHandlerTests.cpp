#include "unit/player/NoisePlayerFixture.hpp"

#include <somnara/system/CommandCenterHandler.hpp>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace somnara {
namespace {

/// A player and a handler on a command centre of their own.
struct Harness : test::NoisePlayerHarness {
    explicit Harness(SoundTrackSet selection, SelectionMode mode = SelectionMode::multiple) {
        start(selecting(std::move(selection), mode));
        handler = std::make_unique<CommandCenterHandler>(player, collection, settingsStore, commands);
    }
    ~Harness() { handler.reset(); }

    /// The events sent since `events` was last cleared, as "name(sound_track)".
    std::vector<std::string> sent() const {
        std::vector<std::string> found;
        for (const auto& event : events) {
            const auto parameters = event.parameters.value_or(nlohmann::json::object());
            found.push_back(event.name + "(" + parameters.value("sound_track", std::string("-")) + ")");
        }
        return found;
    }

    RemoteCommandCenter commands;
    std::unique_ptr<CommandCenterHandler> handler;
};

// The player's state is read when the command's task runs; commands in the wrong state do nothing and
// send nothing; every command is answered with success at once, even one whose start fails.
TEST(CommandCenterHandlerTest, CommandsActOnTheStateTheirTaskFinds) {
    const std::function<void(Harness&)> stopped = [](Harness&) {};
    const std::function<void(Harness&)> playing = [](Harness& h) { h.finish(h.player->play(false)); };
    const auto then = [playing](std::function<Task<void>(NoisePlayer&)> command) {
        return std::function<void(Harness&)>([playing, command](Harness& h) {
            playing(h);
            auto task = command(*h.player);
            h.loop.runUntilIdle();
        });
    };
    const auto stopping = then([](NoisePlayer& p) { return p.stop(5.0); });
    const auto fadingToSleep = then([](NoisePlayer& p) { return p.startSleepFadeOut(5.0); });
    const auto interrupted = then([](NoisePlayer& p) { return p.pause(); });
    const std::function<void(Harness&)> refusing = [](Harness& h) {
        h.session->activationFailure = std::make_error_code(std::errc::connection_refused);
    };
    // Identifiers in plain string order: not by display name ("Brown Noise" is whiteNoise) nor raw value.
    const std::string started = "noise_started(fan:whiteNoise)";
    const std::string stoppedEvent = "noise_stopped(fan:whiteNoise)";
    const auto playingState = NoisePlayerState::playing();
    // A stop from a command fades over the settings' stop time.
    const auto stoppingState = NoisePlayerState::stopping(NoisePlayerSettings{}.fadeTiming.stop);
    const struct {
        const char* name;
        std::function<void(Harness&)> arrange;
        RemoteCommand command;
        std::optional<NoisePlayerState> firstState;
        std::vector<std::string> events;
    } rows[] = {
        {"play while playing", playing, RemoteCommand::play, std::nullopt, {}},
        {"play while stopping", stopping, RemoteCommand::play, std::nullopt, {}},
        {"play during the sleep fade", fadingToSleep, RemoteCommand::play, std::nullopt, {}},
        {"play while interrupted", interrupted, RemoteCommand::play, std::nullopt, {}},
        {"play while stopped", stopped, RemoteCommand::play, playingState, {started}},
        {"play that fails", refusing, RemoteCommand::play, playingState, {}},
        {"pause while stopped", stopped, RemoteCommand::pause, playingState, {started}},
        {"pause while playing", playing, RemoteCommand::pause, stoppingState, {stoppedEvent}},
        {"toggle during the sleep fade",
         fadingToSleep,
         RemoteCommand::togglePlayPause,
         stoppingState,
         {stoppedEvent}},
        {"toggle while stopping", stopping, RemoteCommand::togglePlayPause, playingState, {started}},
        {"stop during the sleep fade", fadingToSleep, RemoteCommand::stop, std::nullopt, {}},
        {"stop while playing", playing, RemoteCommand::stop, stoppingState, {stoppedEvent}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Harness h({SoundTrack::whiteNoise, SoundTrack::fan});
        row.arrange(h);
        h.events.clear();
        const auto before = h.states->values.size();
        EXPECT_EQ(h.commands.perform(row.command), RemoteCommandHandlerStatus::success);
        h.loop.runUntilIdle();
        const auto& states = h.states->values;
        EXPECT_EQ(states.size() > before ? std::optional(states[before]) : std::nullopt, row.firstState);
        h.wait(30.0);
        EXPECT_EQ(h.sent(), row.events);
    }
}

TEST(CommandCenterHandlerTest, NextAndPreviousReportTheSelectionTheyMade) {
    Harness h({SoundTrack::rain}, SelectionMode::single);
    for (const auto command : {RemoteCommand::nextTrack, RemoteCommand::previousTrack}) {
        const auto before = h.collection->selectedSoundTracks();
        h.events.clear();
        EXPECT_EQ(h.commands.perform(command), RemoteCommandHandlerStatus::success);
        h.loop.runUntilIdle();
        const auto& now = h.collection->selectedSoundTracks();
        ASSERT_EQ(now.size(), 1U);
        EXPECT_NE(now, before);
        const std::string name = command == RemoteCommand::nextTrack ? "next" : "previous";
        EXPECT_EQ(h.sent(), std::vector<std::string>{name + "_soundtrack_selected(" +
                                                     std::string(now.begin()->identifier()) + ")"});
    }
}

} // namespace
} // namespace somnara
