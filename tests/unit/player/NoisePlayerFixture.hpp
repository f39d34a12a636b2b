#pragma once

#include "support/Recorders.hpp"
#include "support/ScriptedAudioSession.hpp"
#include "support/SignalMeasurements.hpp"
#include "unit/player/PlayerFixture.hpp"
#include "unit/selection/CollectionFixture.hpp"

#include <somnara/player/NoisePlayer.hpp>

#include <memory>

namespace somnara {
inline void PrintTo(const NoisePlayerState& state, std::ostream* out) {
    *out << state.description();
}
} // namespace somnara

namespace somnara::test {

struct HarnessLoop {
    VirtualLoop loop;
};

/// A noise player as the app makes it, over memory files for every sound, in-memory stores, a
/// scripted audio session and a now-playing centre of its own, on a virtual loop of its own. Not a
/// fixture, so that a table of cases gets a fresh one per case.
class NoisePlayerHarness : public HarnessLoop, public CollectionStores, public AudioFiles {
public:
    NoisePlayerHarness() {
        EventLogger::setLaunchArgumentsForTesting(std::vector<std::string>{"test"});
        observation_ = ZelAnalyticsLogger::shared().observe([this](const ZelAnalyticsLogger::Record& record) {
            (record.kind == ZelAnalyticsLogger::Record::Kind::assertionFailure ? assertions : events)
                .push_back(record);
        });
        logLines().clear();
    }
    ~NoisePlayerHarness() {
        EventLogger::setLaunchArgumentsForTesting(std::nullopt);
        cloud->dictionarySubject()->finish();
        states.reset();
        player.reset();
        loop.runUntilIdle();
    }
    NoisePlayerHarness(const NoisePlayerHarness&) = delete;
    NoisePlayerHarness& operator=(const NoisePlayerHarness&) = delete;

    /// Makes the stores, the collection and the player with `stored` persisted, and lets them start.
    /// Sounds without a file of the test's play a tenth of a second of noise each.
    void start(const NoisePlayerSettings& stored = {}, NoisePlayer::OutputFactory makeOutput = {}) {
        unsigned long long seed = 0;
        for (const auto& soundTrack : SoundTrack::allCases()) {
            ++seed;
            if (!files.contains(bundleCopyPath(soundTrack))) {
                auto noise = makeNoise(4'410, 0.5, seed);
                addFile(soundTrack, {noise, noise});
            }
        }
        makeCollection(stored);
        volumeObserver = SystemVolumeObserver::make(audioSession);
        player = NoisePlayer::make(settingsStore, collection, makeFactory(),
                                   std::make_shared<NowPlayingImageFactory>(imageRenderer), volumeObserver,
                                   {std::move(makeOutput), audioSession, &center});
        states = std::make_unique<StreamRecorder<NoisePlayerState>>(player->stateSubject());
        loop.runUntilIdle();
    }

    /// Puts a stereo file of `channels` in the resources as the sound's copy.
    void addFile(SoundTrack soundTrack, std::vector<std::vector<float>> channels) {
        addBundleCopy(soundTrack,
                      std::make_shared<MemoryAudioFile>(std::move(channels), 44'100,
                                                        std::string(soundTrack.fileName()) + ".m4a"));
    }

    /// Moves time on in 10 ms steps until `task` has finished.
    void finish(const Task<void>& task, Seconds limit = Seconds{120}) {
        for (Seconds waited{0}; !task.isFinished() && waited < limit; waited += step) {
            loop.advance(step);
        }
        ASSERT_TRUE(task.isFinished()) << "the command did not finish";
    }
    template <class F>
    void perform(F&& makeAwaitable) {
        finish(spawn(std::forward<F>(makeAwaitable)));
    }
    void wait(double seconds) { loop.advance(Seconds{seconds}); }

    float volumeOf(SoundTrack soundTrack) {
        return player->players().at(soundTrack)->audioPlayerNode()->volume();
    }
    bool isPlaying(SoundTrack soundTrack) {
        return player->players().at(soundTrack)->audioPlayerNode()->isPlaying();
    }
    /// How many lines logged since the harness was made start with `prefix`.
    static std::size_t count(const std::string& prefix) { return linesStartingWith(prefix).size(); }
    std::vector<std::string> eventNames() const {
        std::vector<std::string> names;
        for (const auto& event : events) {
            names.push_back(event.name);
        }
        return names;
    }

    static constexpr Seconds step{0.01};
    std::shared_ptr<ScriptedAudioSession> session = std::make_shared<ScriptedAudioSession>();
    /// What the player plays through: the scripted session unless the test gives a real one.
    std::shared_ptr<AudioSession> audioSession = session;
    /// What draws the artwork; none draws nothing.
    std::shared_ptr<ImageRenderer> imageRenderer;
    NowPlayingInfoCenter center;
    std::shared_ptr<SystemVolumeObserver> volumeObserver;
    std::shared_ptr<NoisePlayer> player;
    std::unique_ptr<StreamRecorder<NoisePlayerState>> states;
    std::vector<ZelAnalyticsLogger::Record> assertions;
    std::vector<ZelAnalyticsLogger::Record> events;

private:
    ZelAnalyticsLogger::Observation observation_;
};

} // namespace somnara::test
