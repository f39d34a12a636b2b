#include "render/audio/EngineRig.hpp"
#include "support/LogLines.hpp"
#include "support/MemoryAudioFile.hpp"
#include "support/SignalMeasurements.hpp"
#include "support/TestLoop.hpp"

#include <somnara/system/ZelAnalyticsLogger.hpp>

#include <gtest/gtest.h>

namespace somnara::test {
namespace {

class AudioEngineTest : public LoopTest {};

std::shared_ptr<AudioPcmBuffer> noise(std::size_t frames) {
    return std::make_shared<AudioPcmBuffer>(
        AudioPcmBuffer{{EngineRig::rate, 2}, {makeNoise(frames, 0.5, 1), makeNoise(frames, 0.5, 2)}});
}

// A loop far ahead of the render side: commands beyond the queue's room wait on the loop, in order, so
// the last one (play) still takes effect.
TEST_F(AudioEngineTest, commandsBeyondTheQueuesRoomWaitInOrder) {
    EngineRig rig{512, 1, false};
    auto& player = rig.players[0];
    player->scheduleBuffer(noise(44'100), {});
    ASSERT_TRUE(loop.runUntil([&] { return rig.engine->pendingDecodes() == 0; }, std::chrono::seconds{10}));
    rig.engine->start();
    for (int i = 0; i < 1'500; ++i) {
        player->pause();
    }
    player->play();
    rig.render(1'024, 1'024);
    EXPECT_GT(peak(rig.render(512, 512)), 0.1);
}

// Nodes know their engine only while attached; detaching or stopping a player gives its items back, and a
// player attached later gets a fresh voice that plays only what it schedules itself.
TEST_F(AudioEngineTest, detachingAPlayerReleasesItsVoice) {
    EngineRig rig{256, 1, false};
    auto engine = rig.engine;
    auto first = rig.players[0];
    EXPECT_EQ(first->engine(), engine);
    int flushed = 0;
    first->scheduleBuffer(noise(5'000),
                          [&](const PlaybackCompletion& c) { flushed += c.playedBack ? 0 : 1; });
    first->play();
    engine->start();
    engine->detach(first);

    auto second = std::make_shared<AudioPlayerNode>();
    engine->connect(second, rig.playersMixer);
    const auto silent = rig.render(1'000, 256);
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
    EXPECT_EQ(first->engine(), nullptr);
}

// What cannot be rendered is refused at start with an error the caller can act on, an output that
// cannot start with the output's own error, and the engine stays stopped.
TEST_F(AudioEngineTest, startRefusesWhatItCannotRender) {
    class Unreachable final : public AudioOutput {
    public:
        Unreachable() : AudioOutput("unreachable", {}) {}

    private:
        void doStart(AudioRenderer&) override {
            throw std::system_error(AudioOutputErrc::serverUnreachable, "no server");
        }
        void doStop() override {}
    };
    struct Case {
        const char* name;
        std::function<void(AudioEngine&)> wire;
        std::error_code expected = AudioEngineErrc::unsupportedTopology;
    };
    const Case cases[] = {
        {"two units into the main mixer",
         [](AudioEngine& engine) {
             auto mixer = std::make_shared<AudioMixerNode>();
             auto delay = std::make_shared<AudioUnitDelay>();
             engine.connect(mixer, delay);
             engine.connect(delay, engine.mainMixerNode());
             engine.connect(std::make_shared<AudioUnitReverb>(), engine.mainMixerNode());
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
        // Last: once a working output is set, its graph starts.
        {"an output that cannot start",
         [](AudioEngine& engine) {
             engine.setOutput(std::make_shared<Unreachable>());
             engine.connect(std::make_shared<AudioPlayerNode>(), engine.mainMixerNode());
         },
         AudioOutputErrc::serverUnreachable},
    };
    std::shared_ptr<AudioEngine> engine;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        engine = std::make_shared<AudioEngine>();
        c.wire(*engine);
        try {
            engine->start();
            ADD_FAILURE() << "started";
        } catch (const std::system_error& error) {
            EXPECT_EQ(error.code(), c.expected);
        }
        EXPECT_FALSE(engine->isRunning());
    }
    engine->setOutput(AudioOutput::make("null", {}));
    engine->start();
    EXPECT_TRUE(engine->isRunning());
}

// A damaged file plays what could be decoded, completes, and logs why.
TEST_F(AudioEngineTest, damagedFilePlaysWhatDecodedAndLogs) {
    logLines().clear();
    EngineRig rig{512, 1, false};
    auto file = MemoryAudioFile::stereo(makeNoise(100'000, 0.5, 1), makeNoise(100'000, 0.5, 2), 44'100);
    file->failAt(40'000);
    std::optional<PlaybackCompletion> done;
    rig.players[0]->scheduleFile(file, [&](const PlaybackCompletion& c) { done = c; });
    rig.players[0]->play();
    rig.engine->start();
    const auto left = rig.render(60'000, 60'000);
    loop.runUntilIdle();
    ASSERT_TRUE(done.has_value());
    EXPECT_TRUE(done->playedBack);
    // Everything before the damage plays; the item ends early instead of waiting for frames that
    // will never come.
    EXPECT_GE(done->outputFrame, 40'000);
    EXPECT_LT(done->outputFrame, 60'000);
    EXPECT_EQ(peak(std::span{left}.subspan(static_cast<std::size_t>(done->outputFrame))), 0.0);
    ASSERT_FALSE(logLines().empty());
    EXPECT_EQ(logLines().back().type, LogType::error);
    EXPECT_NE(logLines().back().message.find("damaged data"), std::string::npos);
}

} // namespace
} // namespace somnara::test
