#include "EngineRig.hpp"
#include "audio/rt/PcmBuffer.hpp"
#include "support/MemoryAudioFile.hpp"
#include "support/SignalMeasurements.hpp"
#include "support/TestLoop.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace somnara::test {
namespace {

class SchedulingRender : public LoopTest {};

std::shared_ptr<AudioPcmBuffer> makeBuffer(std::vector<float> left, std::vector<float> right) {
    return std::make_shared<AudioPcmBuffer>(
        AudioPcmBuffer{{EngineRig::rate, 2}, {std::move(left), std::move(right)}});
}

std::shared_ptr<AudioPcmBuffer> makeBuffer(std::size_t frames, unsigned long long seed) {
    return makeBuffer(makeNoise(frames, 0.5, seed), makeNoise(frames, 0.5, seed + 1));
}

// Three copies of one buffer, queued back to back through the whole (bypassed) chain, must come out as
// the buffer repeated three times, bit for bit, whatever the block size; each completion reports the
// frame where its copy ended.
TEST_F(SchedulingRender, copiesPlayBackToBackBitExactAtEveryBlockSize) {
    constexpr std::size_t length = 10'007;
    const auto buffer = makeBuffer(length, 7);
    for (const std::size_t block : {std::size_t{1}, std::size_t{64}, std::size_t{441}, std::size_t{4096}}) {
        SCOPED_TRACE(block);
        EngineRig rig{block};
        rig.playCopies(buffer, 3);
        const auto& completions = rig.completions;
        std::vector<float> right;
        const auto left = rig.render(3 * length + 500, block, &right);
        loop.runUntilIdle();

        std::size_t mismatches = 0;
        for (std::size_t i = 0; i < 3 * length; ++i) {
            mismatches +=
                left[i] != buffer->channels[0][i % length] || right[i] != buffer->channels[1][i % length];
        }
        EXPECT_EQ(mismatches, 0U);
        EXPECT_EQ(peak(std::span{left}.subspan(3 * length)), 0.0);
        ASSERT_EQ(completions.size(), 3U);
        for (std::size_t copy = 0; copy < 3; ++copy) {
            EXPECT_TRUE(completions[copy].playedBack);
            EXPECT_EQ(completions[copy].outputFrame, static_cast<std::int64_t>((copy + 1) * length));
        }
    }
}

// A file at another rate is resampled once, to the engine's rate: its tone keeps its pitch and its length
// scales with the rates.
TEST_F(SchedulingRender, fileAtAnotherRateKeepsPitchAndLength) {
    struct Case {
        double fileRate;
        double tone;
    };
    for (const Case c : {Case{48'000, 1'000}, Case{22'050, 441}, Case{96'000, 3'000}}) {
        SCOPED_TRACE(c.fileRate);
        EngineRig rig{512, 1, false};
        const auto frames = static_cast<std::size_t>(c.fileRate);
        auto file = MemoryAudioFile::stereo(makeSine(c.tone, c.fileRate, frames),
                                            makeSine(c.tone, c.fileRate, frames), c.fileRate);
        std::optional<PlaybackCompletion> done;
        rig.players[0]->scheduleFile(file, [&](const PlaybackCompletion& completion) { done = completion; });
        rig.players[0]->play();
        rig.engine->start();
        const auto left = rig.render(50'000, 512);
        loop.runUntilIdle();
        ASSERT_TRUE(done.has_value());
        EXPECT_EQ(done->outputFrame, 44'100);
        const auto measured = zeroCrossingFrequency(std::span{left}.subspan(2'000, 40'000), EngineRig::rate);
        ASSERT_TRUE(measured.has_value());
        EXPECT_NEAR(*measured, c.tone, c.tone * 1e-4);
        EXPECT_NEAR(rms(std::span{left}.subspan(2'000, 40'000)), 0.5 / std::sqrt(2.0), 0.01);
    }

    // A file that decodes a little short of its stated length is padded with silence at the end of
    // every copy, whatever the memory held before (freed samples are left in it on purpose).
    constexpr std::size_t length = 44'100;
    constexpr std::size_t padding = 30;
    EngineRig rig{512, 1, false};
    auto file =
        MemoryAudioFile::stereo(makeSine(1'000, 48'000, 47'960), makeSine(1'000, 48'000, 47'960), 48'000);
    file->stateLength(48'000);
    for (int i = 0; i < 2; ++i) {
        std::vector<float> dirt(4 * length, NAN);
        asm volatile("" : : "r"(dirt.data()) : "memory"); // kept, not optimised away
    }
    for (int copy = 0; copy < 3; ++copy) {
        rig.players[0]->scheduleFile(file, {});
    }
    rig.players[0]->play();
    rig.engine->start();
    const auto left = rig.render(3 * length, 512);
    for (std::size_t end = length; end <= 3 * length; end += length) {
        const auto last = std::span{left}.subspan(end - padding, padding);
        EXPECT_EQ(std::count(last.begin(), last.end(), 0.0F), static_cast<std::ptrdiff_t>(padding))
            << "silence (not NaN) before the seam at " << end;
        EXPECT_NEAR(rms(std::span{left}.subspan(end - length + 2'000, 10'000)), 0.5 / std::sqrt(2.0), 0.01);
    }
}

// A sound longer than its ring streams through it: three copies of one file object, decoded in turn
// from one reader, come out bit exact across every wrap and seam, and memory follows the queue, a
// ring per queued copy, released once it has played back.
TEST_F(SchedulingRender, longSoundsStreamThroughRingsBitExact) {
    EngineRig rig{1024, 2, false};
    constexpr std::size_t length = 100'003;
    const auto rainLeft = makeNoise(length, 0.3, 1);
    const auto rainRight = makeNoise(length, 0.3, 2);
    auto rain = MemoryAudioFile::stereo(rainLeft, rainRight, EngineRig::rate);
    auto wind =
        MemoryAudioFile::stereo(makeNoise(20'000, 0.3, 3), makeNoise(20'000, 0.3, 4), EngineRig::rate);
    for (int copy = 0; copy < 3; ++copy) {
        rig.players[0]->scheduleFile(rain, nullptr);
    }
    rig.players[1]->scheduleFile(wind, nullptr);
    constexpr std::size_t ringBytes = 2 * sizeof(float) * rt::PcmBuffer::ringFrames;
    EXPECT_EQ(rig.engine->decodedBytes(), 3 * ringBytes + 2 * sizeof(float) * 20'000);
    rig.players[0]->play();
    rig.engine->start();
    std::vector<float> right;
    const auto left = rig.render(3 * length, 1024, &right);
    loop.runUntilIdle();

    std::size_t mismatches = 0;
    for (std::size_t i = 0; i < 3 * length; ++i) {
        mismatches += left[i] != rainLeft[i % length] || right[i] != rainRight[i % length];
    }
    EXPECT_EQ(mismatches, 0U);
    EXPECT_EQ(rig.engine->decodedBytes(), 2 * sizeof(float) * 20'000); // only wind is still queued
    EXPECT_EQ(rain->readThroughCount(), 3);
}

// Pausing keeps the queue and the place. The awaitable form resumes its caller once the item's last
// frame has been rendered, not when it was consumed. Stopping a player clears its queue and runs every
// pending completion, marked as not played back; the player is silent afterwards.
TEST_F(SchedulingRender, pauseKeepsThePlaceAnAwaitedItemEndsAtPlaybackAndStopFlushes) {
    EngineRig rig{441, 1, false};
    const auto buffer = makeBuffer(4'000, 11);
    auto player = rig.players[0];
    std::optional<PlaybackCompletion> awaited;
    auto task = spawn([&, player, buffer]() -> asio::awaitable<void> {
        const PlaybackCompletion completion = co_await player->scheduleBuffer(buffer);
        awaited = completion;
    });
    loop.runUntilIdle();
    rig.playCopies(buffer, 2);
    rig.render(1'000, 441);
    player->pause();
    EXPECT_EQ(peak(rig.render(1'000, 441)), 0.0);
    player->play();
    const auto resumed = rig.render(2'999, 441);
    // Resumes on the frame after the last one played.
    EXPECT_EQ(resumed[0], buffer->channels[0][1'000]);
    EXPECT_EQ(resumed[2'998], buffer->channels[0][3'998]);
    loop.runUntilIdle();
    EXPECT_FALSE(awaited.has_value());
    rig.render(1, 1);
    loop.runUntilIdle();
    ASSERT_TRUE(awaited.has_value());
    EXPECT_TRUE(awaited->playedBack);
    EXPECT_EQ(awaited->outputFrame, 5'000);
    EXPECT_TRUE(task.isFinished());

    // Offline, the render side takes commands when it next renders.
    player->stop();
    rig.render(1, 1);
    loop.runUntilIdle();
    ASSERT_EQ(rig.completions.size(), 2U);
    for (const auto& completion : rig.completions) {
        EXPECT_FALSE(completion.playedBack);
    }
    player->play();
    EXPECT_EQ(peak(rig.render(2'000, 441)), 0.0);
    EXPECT_EQ(rig.engine->decodedBytes(), 0U);
}

// Pitch through the whole graph: time pitch and varispeed combine as cents + 1200·log2(rate). Completions
// follow upstream time: only the varispeed changes the length, so copies end at length / rate,
// 2 × length / rate, ..., each reported once its last frame has left the units, and the audio has
// stopped by then.
TEST_F(SchedulingRender, pitchAndVarispeedShiftTheToneAndTheCompletions) {
    struct Case {
        float cents;
        float rate;
    };
    constexpr std::size_t length = 22'000; // whole cycles of 441 Hz: the copies join without a seam
    const auto buffer =
        makeBuffer(makeSine(441, EngineRig::rate, length), makeSine(441, EngineRig::rate, length));
    for (const Case c :
         {Case{0, 0.5F}, Case{0, 2}, Case{0, 1.25F}, Case{1'200, 1}, Case{-300, 1}, Case{-300, 0.9F}}) {
        SCOPED_TRACE(testing::Message() << c.cents << " cents, rate " << c.rate);
        EngineRig rig{512};
        rig.timePitch->setBypass(c.cents == 0);
        rig.timePitch->setPitch(c.cents);
        rig.varispeed->setBypass(c.rate == 1);
        rig.varispeed->setRate(c.rate);
        rig.playCopies(buffer, 3);
        const auto& completions = rig.completions;
        const auto left = rig.render(static_cast<std::size_t>(3 * length / c.rate) + 20'000, 512);
        loop.runUntilIdle();
        const double expected = 441.0 * std::pow(2.0, c.cents / 1200.0) * c.rate;
        const auto measured = zeroCrossingFrequency(std::span{left}.subspan(5'000, 10'000), EngineRig::rate);
        ASSERT_TRUE(measured.has_value());
        EXPECT_NEAR(centsBetween(expected, *measured), 0.0, c.cents == 0 ? 1.0 : 3.0);
        ASSERT_EQ(completions.size(), 3U);
        for (std::size_t copy = 0; copy < 3; ++copy) {
            // Within a few milliseconds: the resampler's delay is known only to about its filter length.
            EXPECT_NEAR(static_cast<double>(completions[copy].outputFrame), (copy + 1) * length / c.rate,
                        150.0);
        }
        // The audio ends with the last copy: the resampler's filter still holds about 600 upstream
        // frames that its reported delay leaves out, so the tail may outlast the completion by that much.
        const auto end = static_cast<std::size_t>(completions[2].outputFrame);
        const auto tail = static_cast<std::size_t>(700 / c.rate);
        EXPECT_GT(rms(std::span{left}.subspan(end - 2'000, 1'500)), 0.25); // a sine of 0.5 gives 0.35
        EXPECT_LT(rms(std::span{left}.subspan(end + tail, 2'000)), 1e-3);
    }
}

} // namespace
} // namespace somnara::test
