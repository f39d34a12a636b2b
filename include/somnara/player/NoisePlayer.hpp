#pragma once

#include <somnara/audio/AudioEngine.hpp>
#include <somnara/foundation/AsyncCurrentValueSubject.hpp>
#include <somnara/platform/AudioSession.hpp>
#include <somnara/platform/NowPlayingInfoCenter.hpp>
#include <somnara/player/AudioFileFactory.hpp>
#include <somnara/player/AudioGraph.hpp>
#include <somnara/player/NoisePlayerState.hpp>
#include <somnara/player/Oscillator.hpp>
#include <somnara/player/SoundTrackPlayerNode.hpp>
#include <somnara/runtime/Date.hpp>
#include <somnara/runtime/Loop.hpp>
#include <somnara/runtime/Task.hpp>
#include <somnara/selection/SoundTracksCollection.hpp>
#include <somnara/settings/ClosedRange.hpp>
#include <somnara/settings/NoisePlayerSettingsStore.hpp>
#include <somnara/system/NowPlayingImageFactory.hpp>
#include <somnara/system/SystemVolumeObserver.hpp>

#include <asio/awaitable.hpp>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace somnara {

/// What a noise player plays through; the defaults are the process's session and now-playing centre and
/// a null output (the app gives a PulseAudio one).
struct NoisePlayerPlatform {
    /// Makes the engine's output at the rate the sounds' files have.
    using OutputFactory = std::function<std::shared_ptr<AudioOutput>(double sampleRate)>;

    OutputFactory makeOutput;
    std::shared_ptr<AudioSession> session;
    NowPlayingInfoCenter* nowPlayingInfoCenter = nullptr;
};

/// The heart of the library: owns the audio engine, one player node per catalogue sound, the effect
/// units, the pan oscillator and the audio session, and turns the selection and the settings into sound.
/// It plays, pauses, stops with a fade, runs a sleep timer that fades out, follows every change of the
/// selection, the volumes and the settings, and keeps the now-playing information current.
///
/// Loop only. Commands are coroutines on the loop: one runs until it awaits, and while it waits for its
/// nodes others may run, so every command sets the state before its first wait.
class NoisePlayer : public std::enable_shared_from_this<NoisePlayer> {
    struct Private {};

public:
    /// How the audio session stands, as the player last set it.
    enum class SessionState { inactive, activating, deactivating, active };
    /// Raised by no operation; kept for callers that name it.
    enum class NoiseControllerError { unableToLoadFile = 1 };

    using OutputFactory = NoisePlayerPlatform::OutputFactory;
    using Platform = NoisePlayerPlatform;

    static constexpr const char* sourceFile = "SomnaraKit/NoisePlayer";
    /// Published for the app; the player neither posts nor observes it.
    static constexpr const char* playSoundNotification = "com.somnara.playsound";
    /// The durations the app offers for the sleep timer, in seconds; the player checks none.
    static constexpr ClosedRange<double> sleepRange{0.0, 7200.0};

    static std::shared_ptr<NoisePlayer> make(std::shared_ptr<NoisePlayerSettingsStore> settingsStore,
                                             std::shared_ptr<SoundTracksCollection> soundTracksCollection,
                                             std::shared_ptr<AudioFileFactory> audioFileFactory,
                                             std::shared_ptr<NowPlayingImageFactory> nowPlayingImageFactory,
                                             std::shared_ptr<SystemVolumeObserver> systemVolumeObserver,
                                             Platform platform = {});

    NoisePlayer(Private, std::shared_ptr<NoisePlayerSettingsStore> settingsStore,
                std::shared_ptr<SoundTracksCollection> soundTracksCollection,
                std::shared_ptr<AudioFileFactory> audioFileFactory,
                std::shared_ptr<NowPlayingImageFactory> nowPlayingImageFactory,
                std::shared_ptr<SystemVolumeObserver> systemVolumeObserver, Platform platform);
    ~NoisePlayer();
    NoisePlayer(const NoisePlayer&) = delete;
    NoisePlayer& operator=(const NoisePlayer&) = delete;

    // Readable from anywhere on the loop.
    const std::shared_ptr<AsyncCurrentValueSubject<NoisePlayerState>>& stateSubject() const noexcept {
        return stateSubject_;
    }
    const std::shared_ptr<AsyncCurrentValueSubject<SessionState>>& sessionStateSubject() const noexcept {
        return sessionStateSubject_;
    }
    const std::shared_ptr<AsyncCurrentValueSubject<std::optional<double>>>&
    sleepTimeRemainingSubject() const noexcept {
        return sleepTimeRemainingSubject_;
    }
    const std::shared_ptr<SoundTracksCollection>& soundTracksCollection() const noexcept {
        return soundTracksCollection_;
    }
    const std::shared_ptr<NowPlayingImageFactory>& nowPlayingImageFactory() const noexcept {
        return nowPlayingImageFactory_;
    }
    const std::shared_ptr<NoisePlayerSettingsStore>& settingsStore() const noexcept { return settingsStore_; }

    NoisePlayerState state() const noexcept { return state_; }
    SessionState sessionState() const noexcept { return sessionState_; }
    /// When the sleep timer ends, on the wall clock; none while no timer runs.
    std::optional<Date> sleepTimerEndDate() const;
    /// Seconds until the sleep timer ends (negative once passed); none while no timer runs.
    std::optional<double> sleepTimeIntervalRemaining() const;
    bool isEngineConfigured() const noexcept { return isEngineConfigured_; }
    AudioEngine& engine() noexcept { return *engine_; }
    const std::shared_ptr<Oscillator>& oscillator() const noexcept { return oscillator_; }
    /// One node per catalogue sound, made on first use.
    const std::map<SoundTrack, std::shared_ptr<SoundTrackPlayerNode>>& players();

    // Commands.
    /// Starts the selected sounds, fading them in over the start fade (or the shorter one of a resume
    /// after an interruption). Throws the session's or the engine's error, after stopping.
    [[nodiscard]] Task<void> play(bool fromInterrupt);
    [[nodiscard]] Task<void> pause();
    [[nodiscard]] Task<void> stop(double fadeOutTime);
    [[nodiscard]] Task<void> startSleepFadeOut(double fadeOutTime);
    /// Stops the engine and deactivates the session; the state stays as it is.
    [[nodiscard]] Task<void> stopEngine();
    [[nodiscard]] Task<void> startSleepTimer(double duration);
    [[nodiscard]] Task<void> cancelSleepTimer();

    [[nodiscard]] asio::awaitable<bool> audioAllowsMixWithOthers();
    /// Stores the choice and asks the session for it; throws the session's error (the choice stays
    /// stored).
    [[nodiscard]] asio::awaitable<void> setAudioAllowsMixWithOthers(bool allows);
    const std::optional<Date>& alwaysResumeFromInterruptsUntil() const noexcept {
        return alwaysResumeFromInterruptsUntil_;
    }
    void setAlwaysResumeFromInterruptsUntil(std::optional<Date> date) {
        alwaysResumeFromInterruptsUntil_ = std::move(date);
    }

private:
    // State machine (NoisePlayer.cpp).
    static Platform withDefaults(Platform platform);
    std::string selectionName() const;
    void setState(NoisePlayerState state);
    std::vector<std::shared_ptr<SoundTrackPlayerNode>> nodesOfSelection();
    asio::awaitable<void> playOnPlayer(bool fromInterrupt);
    asio::awaitable<void> pauseOnPlayer();
    asio::awaitable<void> stopOnPlayer(double fadeOutTime);
    asio::awaitable<void> startSleepFadeOutOnPlayer(double fadeOutTime);
    asio::awaitable<void> start();
    Task<void> runOnPlayer(std::function<asio::awaitable<void>(std::shared_ptr<NoisePlayer>)> operation);

    // The audio graph (NoisePlayerGraph.cpp).
    std::map<SoundTrack, std::shared_ptr<SoundTrackPlayerNode>> makePlayers() const;
    asio::awaitable<void> configureEngine();
    asio::awaitable<void> buildGraph();
    asio::awaitable<void> startEngine();
    asio::awaitable<void> reconfigureEngine();
    void applySoundSettings(const SoundSettings& settings);

    // The sleep timer (NoisePlayerSleepTimer.cpp).
    static asio::awaitable<void> countDown(std::weak_ptr<NoisePlayer> weakPlayer);
    asio::awaitable<void> clearSleepTimer();
    asio::awaitable<void> startSleepTimerOnPlayer(double duration);

    // The audio session (NoisePlayerSession.cpp).
    void setSessionState(SessionState state);
    void setCategory(bool allowsMixWithOthers);
    asio::awaitable<void> startSession();
    void stopSession();
    void registerForNotifications();
    asio::awaitable<void> interruptionEnded(std::optional<std::uint64_t> options);

    // Following the selection and now playing (NoisePlayerNowPlaying.cpp).
    asio::awaitable<void> updateNowPlayingInfo(const std::string& title);
    void startObservationTasks();

    // Immutable after construction.
    const std::shared_ptr<NoisePlayerSettingsStore> settingsStore_;
    const std::shared_ptr<SoundTracksCollection> soundTracksCollection_;
    const std::shared_ptr<AudioFileFactory> audioFileFactory_;
    const std::shared_ptr<NowPlayingImageFactory> nowPlayingImageFactory_;
    const std::shared_ptr<SystemVolumeObserver> systemVolumeObserver_;
    const Platform platform_;
    const std::shared_ptr<AsyncCurrentValueSubject<NoisePlayerState>> stateSubject_;
    const std::shared_ptr<AsyncCurrentValueSubject<std::optional<double>>> sleepTimeRemainingSubject_;
    const std::shared_ptr<AsyncCurrentValueSubject<SessionState>> sessionStateSubject_;

    // Loop only.
    NoisePlayerState state_;
    SessionState sessionState_ = SessionState::inactive;
    std::vector<AudioSessionPortDescription> lastRecordedOutputPort_;
    std::optional<Date> alwaysResumeFromInterruptsUntil_;
    std::optional<ContinuousInstant> sleepTimerEnd_;
    std::optional<Task<void>> sleepTimerTask_;
    std::vector<Task<void>> observationTasks_;
    std::shared_ptr<AudioEngine> engine_;
    std::unique_ptr<AudioGraph> graph_;
    std::optional<std::map<SoundTrack, std::shared_ptr<SoundTrackPlayerNode>>> players_;
    std::shared_ptr<Oscillator> oscillator_ = std::make_shared<Oscillator>();
    std::optional<Task<void>> configuring_;
    bool isEngineConfigured_ = false;
};

/// "inactive", "activating", "deactivating" or "active".
const char* sessionStateName(NoisePlayer::SessionState state) noexcept;

} // namespace somnara
