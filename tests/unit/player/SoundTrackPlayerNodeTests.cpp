#include "PlayerFixture.hpp"

#include <somnara/audio/AudioEngine.hpp>
#include <somnara/player/SoundTrackPlayerNode.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

namespace somnara::test {
namespace {

/// A node for rain on an engine that renders only when the test asks (the offline output).
class SoundTrackPlayerNodeTest : public PlayerTest {
protected:
    static constexpr std::size_t fileFrames = 4'410;

    SoundTrackPlayerNodeTest() {
        AudioOutputConfiguration configuration;
        configuration.maximumFramesPerRender = 4'096;
        engine = std::make_shared<AudioEngine>(AudioOutput::make("offline", configuration));
    }

    std::shared_ptr<SoundTrackPlayerNode> makeNode(bool attached = true) {
        auto node = std::make_shared<SoundTrackPlayerNode>(SoundTrack::rain, makeFactory());
        if (attached) {
            engine->connect(node->audioPlayerNode(), engine->mainMixerNode());
        }
        return node;
    }

    void await(Task<void> task) {
        run([task]() -> asio::awaitable<void> { co_await task.value(); });
    }

    /// Renders `frames` in blocks of `block`, letting the loop run the completions between blocks.
    std::vector<float> render(std::size_t frames, std::size_t block) {
        std::vector<float> left(frames);
        for (std::size_t done = 0; done < frames; done += block) {
            engine->renderOffline(left.data() + done, nullptr, std::min(block, frames - done));
            loop.runUntilIdle();
        }
        return left;
    }

    std::shared_ptr<MemoryAudioFile> rain = memoryFile(SoundTrack::rain, fileFrames);
    std::shared_ptr<AudioEngine> engine;
};

// Preparing queues the file three times ahead; each copy played back is replaced by one new copy.
TEST_F(SoundTrackPlayerNodeTest, keepsThreeCopiesQueuedAndReplacesEachOneThatPlayed) {
    addBundleCopy(SoundTrack::rain, rain);
    auto node = makeNode();
    await(node->prepare());
    EXPECT_EQ(node->loopTaskCount(), 3U);
    EXPECT_EQ(node->audioPlayerNode()->volume(), 0.0F);
    await(node->prepare());
    EXPECT_EQ(linesStartingWith("Scheduling ").size(), 3U) << "prepared twice";

    const auto before = node->loopTaskIdentifiers();
    await(node->play());
    EXPECT_TRUE(engine->isRunning());
    render(fileFrames + 100, 512);
    const auto after = node->loopTaskIdentifiers();
    ASSERT_EQ(after.size(), 3U);
    const std::set<std::string> old(before.begin(), before.end());
    const auto kept =
        std::count_if(after.begin(), after.end(), [&](const auto& id) { return old.contains(id); });
    EXPECT_EQ(kept, 2);
    EXPECT_EQ(linesStartingWith("Scheduling ").size(), 4U);
    // Every copy is the one file object the factory keeps, decoded once.
    EXPECT_EQ(openCounts[bundleDirectory / "sounds" / "rain.m4a"], 1);
}

// A fade-out falls at the rate of a full-volume one and pauses when it ends; a fade-in started during it
// takes over, and the node keeps playing at the fade-in's target.
TEST_F(SoundTrackPlayerNodeTest, fadeOutPausesUnlessAnotherFadeCutsItShort) {
    addBundleCopy(SoundTrack::rain, rain);
    auto node = makeNode();
    await(node->play());
    await(node->setVolume(0.5F));

    auto fadeOut = node->fadeOut(2.0);
    loop.advance(Seconds{0.5});
    EXPECT_NEAR(node->audioPlayerNode()->volume(), 0.25F, 0.01F);
    loop.advance(Seconds{0.48});
    EXPECT_FALSE(fadeOut.isFinished());
    EXPECT_TRUE(node->audioPlayerNode()->isPlaying());
    loop.advance(Seconds{0.04});
    EXPECT_TRUE(fadeOut.isFinished());
    EXPECT_EQ(node->audioPlayerNode()->volume(), 0.0F);
    EXPECT_FALSE(node->audioPlayerNode()->isPlaying());
    EXPECT_EQ(node->bufferState(), SoundTrackPlayerNode::BufferState::notPrepared);

    auto fadeIn = node->fadeIn(1.0F, 0.5);
    loop.advance(Seconds{0.6});
    EXPECT_TRUE(fadeIn.isFinished());
    EXPECT_EQ(node->audioPlayerNode()->volume(), 1.0F);

    auto interrupted = node->fadeOut(2.0);
    loop.advance(Seconds{1.0});
    // A duration off the 10 ms grid: the last step falls short, and the end puts the target in place.
    auto takeOver = node->fadeIn(0.8F, 0.995);
    loop.advance(Seconds{0.005});
    EXPECT_TRUE(interrupted.isFinished());
    loop.advance(Seconds{1.5});
    EXPECT_TRUE(takeOver.isFinished());
    EXPECT_EQ(node->audioPlayerNode()->volume(), 0.8F);
    EXPECT_TRUE(node->audioPlayerNode()->isPlaying());
    EXPECT_EQ(node->bufferState(), SoundTrackPlayerNode::BufferState::prepared);
    EXPECT_EQ(linesStartingWith("Paused ").size(), 1U);

    // A fade to a volume with no duration still arrives there.
    auto instant = node->fade(0.4F, 0.0);
    loop.advance(Seconds{0.02});
    EXPECT_TRUE(instant.isFinished());
    EXPECT_EQ(node->audioPlayerNode()->volume(), 0.4F);
}

// Setting a volume cancels the ramp; at zero or below the node pauses.
TEST_F(SoundTrackPlayerNodeTest, setVolumePausesOnlyAtZeroOrBelow) {
    addBundleCopy(SoundTrack::rain, rain);
    auto node = makeNode();
    const struct {
        float volume;
        bool playing;
    } cases[] = {{0.3F, true}, {0.0F, false}, {-0.1F, false}, {1.0F, true}};
    for (const auto& c : cases) {
        await(node->play());
        auto ramp = node->fade(0.9F, 5.0);
        loop.advance(Seconds{0.1});
        await(node->setVolume(c.volume));
        loop.advance(Seconds{0.1});
        EXPECT_TRUE(ramp.isFinished()) << c.volume;
        EXPECT_EQ(node->audioPlayerNode()->volume(), std::clamp(c.volume, 0.0F, 1.0F)) << c.volume;
        EXPECT_EQ(node->audioPlayerNode()->isPlaying(), c.playing) << c.volume;
        EXPECT_EQ(node->bufferState() == SoundTrackPlayerNode::BufferState::prepared, c.playing) << c.volume;
    }
    EXPECT_EQ(linesStartingWith("Volume changed ").back(), "Volume changed Rain : 1.000000");
}

// With no file to be had, each loop task says so once and keeps its place: the node prepares, plays
// nothing, and does not ask again.
TEST_F(SoundTrackPlayerNodeTest, aSoundWithNoFileStaysSilent) {
    auto node = makeNode();
    auto fadeIn = node->fadeIn(1.0F, 0.0);
    loop.advance(Seconds{0.05});
    EXPECT_TRUE(fadeIn.isFinished());
    EXPECT_EQ(node->bufferState(), SoundTrackPlayerNode::BufferState::prepared);
    EXPECT_EQ(node->loopTaskCount(), 3U);
    const auto left = render(fileFrames * 2, 1'024);
    EXPECT_EQ(peak(left), 0.0);
    std::size_t errors = 0;
    for (const auto& line : logLines()) {
        errors += line.message == "No audio file rain" && line.type == LogType::error ? 1 : 0;
    }
    EXPECT_EQ(errors, 3U);
}

// A node outside any engine reports it and does not play; the fade that asked still reaches its volume.
TEST_F(SoundTrackPlayerNodeTest, playWithoutAnEngineReportsIt) {
    addBundleCopy(SoundTrack::rain, rain);
    auto node = makeNode(false);
    auto fadeIn = node->fadeIn(0.6F, 0.2);
    loop.advance(Seconds{0.3});
    EXPECT_TRUE(fadeIn.isFinished());
    EXPECT_FALSE(node->audioPlayerNode()->isPlaying());
    EXPECT_EQ(node->audioPlayerNode()->volume(), 0.6F);
    EXPECT_EQ(analytics.assertions("SomnaraKit/SoundTrackPlayerNode").size(), 1U);
}

} // namespace
} // namespace somnara::test
