#include "support/MemoryAudioFile.hpp"
#include "support/SignalMeasurements.hpp"
#include "support/TestLoop.hpp"

#include <somnara/audio/AudioEngine.hpp>
#include <somnara/audio/AudioUnitDelay.hpp>
#include <somnara/audio/AudioUnitReverb.hpp>
#include <somnara/system/SomnaraLogger.hpp>
#include <somnara/system/ZelAnalyticsLogger.hpp>

#include <gtest/gtest.h>

namespace somnara::test {
namespace {

class AudioEngineTest : public LoopTest {
protected:
    std::shared_ptr<AudioPcmBuffer> noise(std::size_t frames) {
        auto buffer = std::make_shared<AudioPcmBuffer>();
        buffer->format = AudioFormat{44'100, 2};
        buffer->channels = {makeNoise(frames, 0.5, 1), makeNoise(frames, 0.5, 2)};
        return buffer;
    }

    static std::shared_ptr<AudioEngine> offlineEngine(std::size_t maximumFrames) {
        AudioOutputConfiguration configuration;
        configuration.maximumFramesPerRender = maximumFrames;
        return std::make_shared<AudioEngine>(AudioOutput::make("offline", configuration));
    }

    /// A player connected to the main mixer of `engine`.
    static std::shared_ptr<AudioPlayerNode> connectedPlayer(AudioEngine& engine) {
        auto player = std::make_shared<AudioPlayerNode>();
        engine.connect(player, engine.mainMixerNode());
        return player;
    }

    /// Renders `frames` in one call; returns the left channel.
    static std::vector<float> render(AudioEngine& engine, std::size_t frames) {
        std::vector<float> left(frames);
        std::vector<float> right(frames);
        engine.renderOffline(left.data(), right.data(), frames);
        return left;
    }
};

// A loop far ahead of the render side: commands beyond the queue's room wait on the loop, in order, so
// the last one (play) still takes effect.
TEST_F(AudioEngineTest, commandsBeyondTheQueuesRoomWaitInOrder) {
    auto engine = offlineEngine(512);
    auto player = connectedPlayer(*engine);
    player->scheduleBuffer(noise(44'100), {});
    ASSERT_TRUE(loop.runUntil([&] { return engine->pendingDecodes() == 0; }, std::chrono::seconds{10}));
    engine->start();
    for (int i = 0; i < 1'500; ++i) {
        player->pause();
    }
    player->play();
    render(*engine, 1'024);
    EXPECT_GT(peak(render(*engine, 512)), 0.1);
}

// Nodes know their engine only while attached; detaching or stopping a player gives its items back, and a
// player attached later gets a fresh voice that plays only what it schedules itself.
TEST_F(AudioEngineTest, detachingAPlayerReleasesItsVoice) {
    auto engine = offlineEngine(256);
    auto first = std::make_shared<AudioPlayerNode>();
    EXPECT_EQ(first->engine(), nullptr);
    engine->connect(first, engine->mainMixerNode());
    EXPECT_EQ(first->engine(), engine);
    int flushed = 0;
    first->scheduleBuffer(noise(5'000),
                          [&](const PlaybackCompletion& c) { flushed += c.playedBack ? 0 : 1; });
    first->play();
    engine->start();
    engine->detach(first);
    EXPECT_EQ(first->engine(), nullptr);

    auto second = connectedPlayer(*engine);
    const auto silent = render(*engine, 1'000);
    loop.runUntilIdle();
    EXPECT_EQ(flushed, 1);
    EXPECT_EQ(peak(silent), 0.0); // the second player has nothing queued and is not playing

    // A stopped player gives its items back at once, even with the engine stopped, and their memory goes.
    second->scheduleBuffer(noise(1'000),
                           [&](const PlaybackCompletion& c) { flushed += c.playedBack ? 0 : 1; });
    second->play();
    engine->stop();
    loop.runUntilIdle();
    second->stop();
    loop.runUntilIdle();
    EXPECT_EQ(flushed, 2);
    EXPECT_EQ(engine->decodedBytes(), 0U);

    // Scheduling on a detached player is a broken expectation: reported, and completed at once.
    const auto before = ZelAnalyticsLogger::shared().counts().assertionFailures;
    std::optional<PlaybackCompletion> refused;
    first->scheduleBuffer(noise(100), [&](const PlaybackCompletion& c) { refused = c; });
    loop.runUntilIdle();
    ASSERT_TRUE(refused.has_value());
    EXPECT_FALSE(refused->playedBack);
    EXPECT_EQ(ZelAnalyticsLogger::shared().counts().assertionFailures, before + 1);
}

// What cannot be rendered is refused at start with an error the caller can act on, and the engine stays
// stopped.
TEST_F(AudioEngineTest, startRefusesTopologiesItCannotRender) {
    struct Case {
        const char* name;
        std::function<void(AudioEngine&)> wire;
    };
    const Case cases[] = {
        {"two units into the main mixer",
         [](AudioEngine& engine) {
             auto mixer = std::make_shared<AudioMixerNode>();
             auto delay = std::make_shared<AudioUnitDelay>();
             auto reverb = std::make_shared<AudioUnitReverb>();
             engine.connect(mixer, delay);
             engine.connect(delay, engine.mainMixerNode());
             engine.connect(reverb, engine.mainMixerNode());
         }},
        {"a unit with nothing before it",
         [](AudioEngine& engine) {
             engine.connect(std::make_shared<AudioUnitDelay>(), engine.mainMixerNode());
         }},
        {"a cycle",
         [](AudioEngine& engine) {
             auto delay = std::make_shared<AudioUnitDelay>();
             auto reverb = std::make_shared<AudioUnitReverb>();
             engine.connect(delay, reverb);
             engine.connect(reverb, delay);
             engine.connect(std::make_shared<AudioUnitDelay>(), engine.mainMixerNode());
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto engine = std::make_shared<AudioEngine>();
        c.wire(*engine);
        try {
            engine->start();
            ADD_FAILURE() << "started";
        } catch (const std::system_error& error) {
            EXPECT_EQ(error.code(), make_error_code(AudioEngineErrc::unsupportedTopology));
        }
        EXPECT_FALSE(engine->isRunning());
    }
}

// An output that cannot start fails the engine's start with the output's own error.
TEST_F(AudioEngineTest, outputFailurePassesThrough) {
    class Unreachable final : public AudioOutput {
    public:
        explicit Unreachable(const AudioOutputConfiguration& configuration)
            : AudioOutput("unreachable", configuration) {}

    private:
        void doStart(AudioRenderer&) override {
            throw std::system_error(AudioOutputErrc::serverUnreachable, "no server");
        }
        void doStop() override {}
    };
    auto engine = std::make_shared<AudioEngine>(std::make_shared<Unreachable>(AudioOutputConfiguration{}));
    connectedPlayer(*engine);
    try {
        engine->start();
        ADD_FAILURE() << "started";
    } catch (const std::system_error& error) {
        EXPECT_EQ(error.code(), make_error_code(AudioOutputErrc::serverUnreachable));
    }
    EXPECT_FALSE(engine->isRunning());
    // Once a working output is set, the same graph starts.
    engine->setOutput(AudioOutput::make("null", {}));
    engine->start();
    EXPECT_TRUE(engine->isRunning());
}

// A damaged file plays what could be decoded, completes, and logs why.
TEST_F(AudioEngineTest, damagedFilePlaysWhatDecodedAndLogs) {
    // Handlers stay registered for the process: the list outlives the test.
    auto errors = std::make_shared<std::vector<std::string>>();
    SomnaraLogger::add([errors](const std::string& message, LogType type) {
        if (type == LogType::error) {
            errors->push_back(message);
        }
    });
    auto engine = offlineEngine(512);
    auto player = connectedPlayer(*engine);
    auto file = MemoryAudioFile::stereo(makeNoise(100'000, 0.5, 1), makeNoise(100'000, 0.5, 2), 44'100);
    file->failAt(40'000);
    std::optional<PlaybackCompletion> done;
    player->scheduleFile(file, [&](const PlaybackCompletion& c) { done = c; });
    player->play();
    engine->start();
    const auto left = render(*engine, 60'000);
    loop.runUntilIdle();
    ASSERT_TRUE(done.has_value());
    EXPECT_TRUE(done->playedBack);
    // Everything before the damage plays; the item ends early instead of waiting for frames that
    // will never come.
    EXPECT_GE(done->outputFrame, 40'000);
    EXPECT_LT(done->outputFrame, 60'000);
    EXPECT_EQ(peak(std::span{left}.subspan(static_cast<std::size_t>(done->outputFrame))), 0.0);
    ASSERT_FALSE(errors->empty());
    EXPECT_NE(errors->back().find("damaged data"), std::string::npos);
}

} // namespace
} // namespace somnara::test
