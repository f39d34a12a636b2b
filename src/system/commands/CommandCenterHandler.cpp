#include <somnara/runtime/Task.hpp>
#include <somnara/system/CommandCenterHandler.hpp>
#include <somnara/system/EventLogger.hpp>
#include <somnara/system/SomnaraLogger.hpp>

#include <string>

namespace somnara {

namespace {

constexpr RemoteCommand registrationOrder[] = {
    RemoteCommand::play, RemoteCommand::pause,         RemoteCommand::togglePlayPause,
    RemoteCommand::stop, RemoteCommand::previousTrack, RemoteCommand::nextTrack};

const char* logLine(RemoteCommand command) {
    switch (command) {
    case RemoteCommand::play:
        return "Command center: Play";
    case RemoteCommand::pause:
        return "Command center: Pause";
    case RemoteCommand::togglePlayPause:
        return "Command center: Toggle play pause";
    case RemoteCommand::stop:
        return "Command center: Stop";
    case RemoteCommand::previousTrack:
        return "Command center: Previous track";
    case RemoteCommand::nextTrack:
        break;
    }
    return "Command center: Next track";
}

} // namespace

CommandCenterHandler::CommandCenterHandler(std::shared_ptr<NoisePlayer> noisePlayer,
                                           std::shared_ptr<SoundTracksCollection> soundTracksCollection,
                                           std::shared_ptr<NoisePlayerSettingsStore> noisePlayerSettingsStore,
                                           RemoteCommandCenter& commandCenter)
    : parts_(std::make_shared<const Parts>(Parts{std::move(noisePlayer), std::move(soundTracksCollection),
                                                 std::move(noisePlayerSettingsStore)})),
      commandCenter_(commandCenter) {
    for (const auto command : registrationOrder) {
        targets_.push_back(commandCenter_.addTarget(
            command, [this](const RemoteCommandEvent& event) { return handle(event); }));
    }
}

CommandCenterHandler::~CommandCenterHandler() {
    for (const auto& target : targets_) {
        commandCenter_.removeTarget(target);
    }
}

RemoteCommandHandlerStatus CommandCenterHandler::handle(const RemoteCommandEvent& event) {
    SomnaraLogger::log(logLine(event.command), LogType::defaultLevel);
    spawn([parts = parts_, command = event.command] { return run(parts, command); });
    return RemoteCommandHandlerStatus::success;
}

asio::awaitable<void> CommandCenterHandler::run(SharedParts parts, RemoteCommand command) {
    using Case = NoisePlayerState::Case;
    const auto state = parts->noisePlayer->state().kind();
    switch (command) {
    case RemoteCommand::play:
        if (state == Case::stopped) {
            co_await playPath(parts);
        }
        break;
    case RemoteCommand::pause:
        if (state == Case::playing) {
            co_await stopPath(parts);
        } else {
            co_await playPath(parts);
        }
        break;
    case RemoteCommand::togglePlayPause:
        if (state == Case::playing || state == Case::sleepFadeOut) {
            co_await stopPath(parts);
        } else {
            co_await playPath(parts);
        }
        break;
    case RemoteCommand::stop:
        if (state == Case::playing) {
            spawn([parts] { return stopPath(parts); });
        }
        break;
    case RemoteCommand::previousTrack:
        co_await parts->soundTracksCollection->selectPrevious();
        logEvent(parts, "previous_soundtrack_selected");
        break;
    case RemoteCommand::nextTrack:
        co_await parts->soundTracksCollection->selectNext();
        logEvent(parts, "next_soundtrack_selected");
        break;
    }
}

asio::awaitable<void> CommandCenterHandler::playPath(SharedParts parts) {
    auto playing = parts->noisePlayer->play(false);
    try {
        co_await playing.value();
    } catch (...) {
        // The system was told success already; a start that failed has nothing more to report.
        co_return;
    }
    logEvent(parts, "noise_started");
}

asio::awaitable<void> CommandCenterHandler::stopPath(SharedParts parts) {
    const auto settings = co_await parts->noisePlayerSettingsStore->noisePlayerSettings();
    auto stopping = parts->noisePlayer->stop(settings.fadeTiming.stop);
    co_await stopping.value();
    logEvent(parts, "noise_stopped");
}

// Sent once the command's action is done, with the selection of that moment.
void CommandCenterHandler::logEvent(const SharedParts& parts, const char* name) {
    EventLogger::logEventSoundTrackEvent(name, EventLogger::CallSite::commandCenter,
                                         parts->soundTracksCollection->selectedSoundTracks());
}

} // namespace somnara
