#include "support/TestLoop.hpp"

#include <somnara/platform/AudioOutput.hpp>

#include <gtest/gtest.h>

#include <algorithm>

namespace somnara::test {
namespace {

class CountingRenderer final : public AudioRenderer {
public:
    void render(float* left, float* right, std::size_t frames) noexcept override {
        calls += 1;
        largest = std::max(largest, frames);
        total += frames;
        std::fill(left, left + frames, 0.25F);
        std::fill(right, right + frames, -0.25F);
    }
    int calls = 0;
    std::size_t largest = 0;
    std::size_t total = 0;
};

std::error_code codeOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const std::system_error& error) {
        return error.code();
    }
    return {};
}

AudioOutputConfiguration configured(double rate, std::size_t block = 1024, double period = 0.01) {
    AudioOutputConfiguration configuration;
    configuration.sampleRate = rate;
    configuration.maximumFramesPerRender = block;
    configuration.period = period;
    return configuration;
}

class AudioOutputTest : public LoopTest {};

TEST_F(AudioOutputTest, frontRejectsWhatBackEndsNeedNotCheck) {
    struct Case {
        const char* name;
        std::function<void()> action;
        AudioOutputErrc expected;
    };
    CountingRenderer renderer;
    auto nullOutput = AudioOutput::make("null", {});
    auto offline = AudioOutput::make("offline", {});
    float left[4];
    float right[4];
    const Case cases[] = {
        {"unknown back end", [] { AudioOutput::make("jack", {}); }, AudioOutputErrc::unknownBackend},
        {"zero rate", [] { AudioOutput::make("offline", configured(0)); },
         AudioOutputErrc::invalidConfiguration},
        {"NaN rate", [] { AudioOutput::make("null", configured(std::numeric_limits<double>::quiet_NaN())); },
         AudioOutputErrc::invalidConfiguration},
        {"empty block", [] { AudioOutput::make("offline", configured(44'100, 0)); },
         AudioOutputErrc::invalidConfiguration},
        {"render on a device output",
         [&] {
             nullOutput->start(renderer);
             nullOutput->render(left, right, 4);
         },
         AudioOutputErrc::notManual},
        {"render before start", [&] { offline->render(left, right, 4); }, AudioOutputErrc::notManual},
        {"start twice",
         [&] {
             offline->start(renderer);
             offline->start(renderer);
         },
         AudioOutputErrc::alreadyRunning},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(codeOf(c.action), make_error_code(c.expected));
    }
    nullOutput->stop();
}

// A manual render of any length arrives in blocks no larger than the configured maximum, and null
// pointers discard the audio.
TEST_F(AudioOutputTest, offlineRenderSplitsIntoBlocks) {
    auto output = AudioOutput::make("offline", configured(44'100, 100));
    CountingRenderer renderer;
    output->start(renderer);
    std::vector<float> left(1'050);
    std::vector<float> right(1'050);
    output->render(left.data(), right.data(), left.size());
    output->render(nullptr, nullptr, 250);
    EXPECT_EQ(renderer.largest, 100U);
    EXPECT_EQ(renderer.total, 1'300U);
    EXPECT_EQ(renderer.calls, 11 + 3);
    EXPECT_EQ(output->framesRendered(), 1'300);
    EXPECT_EQ(left.back(), 0.25F);
    EXPECT_EQ(right.front(), -0.25F);
}

// The null output renders what the loop's clock says is due, no more and no less, and nothing once
// stopped.
TEST_F(AudioOutputTest, nullOutputKeepsPaceWithTheLoopClock) {
    auto output = AudioOutput::make("null", configured(48'000, 256, 0.01));
    CountingRenderer renderer;
    output->start(renderer);
    loop.advance(Seconds{0.005});
    EXPECT_EQ(renderer.total, 0U);
    loop.advance(Seconds{2.0});
    EXPECT_EQ(output->framesRendered(), 96'000); // rendered at each 10 ms tick: 2.0 s so far
    EXPECT_EQ(renderer.largest, 256U);
    output->stop();
    loop.advance(Seconds{1.0});
    EXPECT_EQ(output->framesRendered(), 96'000);
}

} // namespace
} // namespace somnara::test
