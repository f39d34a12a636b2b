#include <somnara/player/NoisePlayer.hpp>
#include <somnara/runtime/TaskGroup.hpp>
#include <somnara/system/DetailedErrorDescription.hpp>
#include <somnara/system/EventLogger.hpp>
#include <somnara/system/SomnaraLogger.hpp>
#include <somnara/system/ZelAnalyticsLogger.hpp>

#include <exception>

namespace somnara {

namespace {

NowPlayingPlaybackState nowPlayingPlaybackState(const NoisePlayerState& state) {
    switch (state.kind()) {
    case NoisePlayerState::Case::playing:
    case NoisePlayerState::Case::sleepFadeOut:
        return NowPlayingPlaybackState::playing;
    case NoisePlayerState::Case::interrupted:
        return NowPlayingPlaybackState::interrupted;
    case NoisePlayerState::Case::stopping:
    case NoisePlayerState::Case::stopped:
        break;
    }
    return NowPlayingPlaybackState::stopped;
}

void debug(std::string message) {
    SomnaraLogger::log(std::move(message), LogType::debug);
}

} // namespace

const char* sessionStateName(NoisePlayer::SessionState state) noexcept {
    switch (state) {
    case NoisePlayer::SessionState::inactive:
        return "inactive";
    case NoisePlayer::SessionState::activating:
        return "activating";
    case NoisePlayer::SessionState::deactivating:
        return "deactivating";
    case NoisePlayer::SessionState::active:
        break;
    }
    return "active";
}

std::shared_ptr<NoisePlayer> NoisePlayer::make(std::shared_ptr<NoisePlayerSettingsStore> settingsStore,
                                               std::shared_ptr<SoundTracksCollection> soundTracksCollection,
                                               std::shared_ptr<AudioFileFactory> audioFileFactory,
                                               std::shared_ptr<NowPlayingImageFactory> nowPlayingImageFactory,
                                               std::shared_ptr<SystemVolumeObserver> systemVolumeObserver,
                                               Platform platform) {
    auto player = std::make_shared<NoisePlayer>(
        Private{}, std::move(settingsStore), std::move(soundTracksCollection), std::move(audioFileFactory),
        std::move(nowPlayingImageFactory), std::move(systemVolumeObserver), std::move(platform));
    // Commands that arrive before the start-up has finished run between its steps.
    spawn([player]() -> asio::awaitable<void> { co_await player->start(); });
    return player;
}

NoisePlayer::NoisePlayer(Private, std::shared_ptr<NoisePlayerSettingsStore> settingsStore,
                         std::shared_ptr<SoundTracksCollection> soundTracksCollection,
                         std::shared_ptr<AudioFileFactory> audioFileFactory,
                         std::shared_ptr<NowPlayingImageFactory> nowPlayingImageFactory,
                         std::shared_ptr<SystemVolumeObserver> systemVolumeObserver, Platform platform)
    : settingsStore_(std::move(settingsStore)), soundTracksCollection_(std::move(soundTracksCollection)),
      audioFileFactory_(std::move(audioFileFactory)),
      nowPlayingImageFactory_(std::move(nowPlayingImageFactory)),
      systemVolumeObserver_(std::move(systemVolumeObserver)), platform_(withDefaults(std::move(platform))),
      stateSubject_(AsyncCurrentValueSubject<NoisePlayerState>::make(NoisePlayerState::stopped())),
      sleepTimeRemainingSubject_(AsyncCurrentValueSubject<std::optional<double>>::make(0.0)),
      sessionStateSubject_(AsyncCurrentValueSubject<SessionState>::make(SessionState::inactive)),
      engine_(std::make_shared<AudioEngine>(platform_.makeOutput(AudioOutputConfiguration{}.sampleRate))),
      graph_(std::make_unique<AudioGraph>(engine_)) {
    platform_.nowPlayingInfoCenter->setPlaybackState(NowPlayingPlaybackState::stopped);
}

NoisePlayer::~NoisePlayer() {
    if (sleepTimerTask_) {
        sleepTimerTask_->cancel();
    }
}

NoisePlayer::Platform NoisePlayer::withDefaults(Platform platform) {
    if (!platform.makeOutput) {
        platform.makeOutput = [](double sampleRate) -> std::shared_ptr<AudioOutput> {
            AudioOutputConfiguration configuration;
            configuration.sampleRate = sampleRate;
            return AudioOutput::make("null", configuration);
        };
    }
    if (!platform.session) {
        platform.session = AudioSession::shared();
    }
    if (platform.nowPlayingInfoCenter == nullptr) {
        platform.nowPlayingInfoCenter = &NowPlayingInfoCenter::defaultCenter();
    }
    return platform;
}

asio::awaitable<void> NoisePlayer::start() {
    auto settings = co_await settingsStore_->noisePlayerSettings();
    try {
        setCategory(settings.audioAllowsMixWithOthers);
    } catch (const std::exception& error) {
        SomnaraLogger::log(std::string("Failed to set audio session category at init. ") + error.what(),
                           LogType::error);
    }
    co_await configureEngine();
    registerForNotifications();
    settings = co_await settingsStore_->noisePlayerSettings();
    applySoundSettings(settings.soundSettings);
    const auto title = selectionName();
    co_await updateNowPlayingInfo(title);
    startObservationTasks();
}

Task<void>
NoisePlayer::runOnPlayer(std::function<asio::awaitable<void>(std::shared_ptr<NoisePlayer>)> operation) {
    return spawn([self = shared_from_this(), operation = std::move(operation)]() -> asio::awaitable<void> {
        co_await operation(self);
    });
}

void NoisePlayer::setState(NoisePlayerState state) {
    platform_.nowPlayingInfoCenter->setPlaybackState(nowPlayingPlaybackState(state));
    if (state == state_) {
        return;
    }
    state_ = state;
    debug("State Changed To " + state.description());
    // Subscribers hear of the change from a task of its own, which sends the state of that moment.
    spawn([weak = weak_from_this()]() -> asio::awaitable<void> {
        if (auto self = weak.lock()) {
            self->stateSubject_->send(self->state_);
        }
        co_return;
    });
}

const std::map<SoundTrack, std::shared_ptr<SoundTrackPlayerNode>>& NoisePlayer::players() {
    if (!players_) {
        players_ = makePlayers();
    }
    return *players_;
}

std::vector<std::shared_ptr<SoundTrackPlayerNode>> NoisePlayer::nodesOfSelection() {
    std::vector<std::shared_ptr<SoundTrackPlayerNode>> nodes;
    for (const auto& soundTrack : soundTracksCollection_->selectedSoundTracks()) {
        nodes.push_back(players().at(soundTrack));
    }
    return nodes;
}

std::string NoisePlayer::selectionName() const {
    return soundTracksCollection_->selectionNameSubject()->currentValue();
}

Task<void> NoisePlayer::play(bool fromInterrupt) {
    return runOnPlayer(
        [fromInterrupt](std::shared_ptr<NoisePlayer> self) { return self->playOnPlayer(fromInterrupt); });
}

Task<void> NoisePlayer::pause() {
    return runOnPlayer([](std::shared_ptr<NoisePlayer> self) { return self->pauseOnPlayer(); });
}

Task<void> NoisePlayer::stop(double fadeOutTime) {
    return runOnPlayer(
        [fadeOutTime](std::shared_ptr<NoisePlayer> self) { return self->stopOnPlayer(fadeOutTime); });
}

Task<void> NoisePlayer::startSleepFadeOut(double fadeOutTime) {
    return runOnPlayer([fadeOutTime](std::shared_ptr<NoisePlayer> self) {
        return self->startSleepFadeOutOnPlayer(fadeOutTime);
    });
}

asio::awaitable<void> NoisePlayer::playOnPlayer(bool fromInterrupt) {
    if (state_.isPlaying()) {
        debug("Already playing");
        co_return;
    }
    setState(NoisePlayerState::playing());
    co_await configureEngine();
    const auto nodes = nodesOfSelection();
    std::exception_ptr startFailure;
    try {
        co_await startEngine();
    } catch (const std::exception& error) {
        SomnaraLogger::log(std::string("Error starting engine ") + error.what(), LogType::error);
        ZelAnalyticsLogger::shared().loggedAssertionFailure(detailedErrorDescription(error), sourceFile,
                                                            "play(fromInterrupt:)", __LINE__);
        startFailure = std::current_exception();
    }
    if (startFailure) {
        co_await stopOnPlayer(0);
        std::rethrow_exception(startFailure);
    }
    const auto settings = co_await settingsStore_->noisePlayerSettings();
    const double fade = fromInterrupt ? settings.fadeTiming.fromInterrupt : settings.fadeTiming.start;
    auto fadeIn = [collection = soundTracksCollection_,
                   fade](std::shared_ptr<SoundTrackPlayerNode> node) -> asio::awaitable<void> {
        const float volume = co_await collection->getVolume(node->soundTrack());
        auto ramp = node->fadeIn(volume, fade);
        co_await ramp.value();
    };
    auto fades = concurrentForEach(nodes, fadeIn);
    co_await std::move(fades);
    oscillator_->setIsRunning(true);
    if (systemVolumeObserver_->systemVolumeSubject()->currentValue() == 0.0F) {
        EventLogger::logEvent("started_playback_with_volume_muted", std::nullopt);
    }
    if (settings.soundSettings.volume == 0.0F) {
        EventLogger::logEvent("started_playback_with_app_volume_muted", std::nullopt);
    }
    const auto title = selectionName();
    co_await updateNowPlayingInfo(title);
}

asio::awaitable<void> NoisePlayer::pauseOnPlayer() {
    if (!state_.isPlaying()) {
        debug("Already stopped");
        co_return;
    }
    setState(NoisePlayerState::interrupted());
    auto silence = [](std::shared_ptr<SoundTrackPlayerNode> node) -> asio::awaitable<void> {
        auto mute = node->setVolume(0);
        co_await mute.value();
        auto pause = node->pause();
        co_await pause.value();
    };
    auto silenceAll = concurrentForEach(nodesOfSelection(), silence);
    co_await std::move(silenceAll);
    const auto title = selectionName();
    co_await updateNowPlayingInfo(title);
}

asio::awaitable<void> NoisePlayer::stopOnPlayer(double fadeOutTime) {
    if (state_ == NoisePlayerState::stopped()) {
        debug("Already stopped");
        co_return;
    }
    setState(NoisePlayerState::stopping(fadeOutTime));
    auto fadeOut = [fadeOutTime](std::shared_ptr<SoundTrackPlayerNode> node) -> asio::awaitable<void> {
        auto ramp = node->fadeOut(fadeOutTime);
        co_await ramp.value();
    };
    auto fadeOutAll = concurrentForEach(nodesOfSelection(), fadeOut);
    co_await std::move(fadeOutAll);
    setState(NoisePlayerState::stopped());
    oscillator_->setIsRunning(false);
    const auto title = selectionName();
    co_await updateNowPlayingInfo(title);
}

asio::awaitable<void> NoisePlayer::startSleepFadeOutOnPlayer(double fadeOutTime) {
    if (!state_.isPlaying()) {
        debug("Not in correct state to do sleep fade out");
        co_return;
    }
    setState(NoisePlayerState::sleepFadeOut(fadeOutTime));
    auto fadeToSilence = [fadeOutTime](std::shared_ptr<SoundTrackPlayerNode> node) -> asio::awaitable<void> {
        auto ramp = node->fade(0, fadeOutTime);
        co_await ramp.value();
    };
    auto fadeToSilenceAll = concurrentForEach(nodesOfSelection(), fadeToSilence);
    co_await std::move(fadeToSilenceAll);
    debug("Sleep fade done");
}

} // namespace somnara
