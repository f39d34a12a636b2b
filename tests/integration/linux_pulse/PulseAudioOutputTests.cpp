#include "PulseTestServer.hpp"
#include "support/ScopedEnvironment.hpp"
#include "support/SignalMeasurements.hpp"
#include "support/TestLoop.hpp"

#include <somnara/audio/AudioEngine.hpp>
#include <somnara/linux/pulse/PulseAudioOutput.hpp>
#include <somnara/linux/pulse/PulseAudioSession.hpp>

#include <gtest/gtest.h>
#include <pulse/error.h>

#include <cstdlib>
#include <functional>
#include <memory>
#include <string>

namespace somnara::test {
namespace {

constexpr double rate = 44'100;

class PulseAudioOutputTest : public LoopTest {};

// With no server to talk to, starting the output or activating the session fails with an error that
// says so, and nothing is left running.
TEST_F(PulseAudioOutputTest, unreachableServerIsAClearError) {
    const test::ScopedEnvironment server("PULSE_SERVER", "unix:/nonexistent/somnara/pulse/native");
    AudioOutputConfiguration configuration;
    auto output = makePulseAudioOutput(configuration);
    class Silence final : public AudioRenderer {
        void render(float* l, float* r, std::size_t frames) noexcept override {
            std::fill(l, l + frames, 0.0F);
            std::fill(r, r + frames, 0.0F);
        }
    } silence;
    const std::function<void()> attempts[] = {
        [&] { output->start(silence); },
        // A session is made all the same, and goes on looking for a server, but cannot activate.
        [] { makePulseAudioSession()->setActive(true); },
    };
    for (const auto& attempt : attempts) {
        try {
            attempt();
            ADD_FAILURE() << "worked without a server";
        } catch (const std::system_error& error) {
            EXPECT_EQ(error.code(), make_error_code(AudioOutputErrc::serverUnreachable));
            EXPECT_NE(std::string{error.what()}.find("PulseAudio"), std::string::npos);
        }
    }
    EXPECT_FALSE(output->isRunning());
}

// What the engine plays into a null sink comes back from its monitor: found by cross-correlation, it
// matches the rendered signal to the server's 16-bit resolution; the stream carries the media role and
// the application's name.
TEST_F(PulseAudioOutputTest, monitorCapturesWhatWasPlayed) {
    if (!pulseWanted()) {
        GTEST_SKIP() << noPulseMessage;
    }
    constexpr std::size_t length = 44'100;
    MonitorRecorder recorder;
    if (!recorder.error().empty()) {
        GTEST_SKIP() << "cannot record out.monitor: " << recorder.error();
    }
    AudioOutputConfiguration configuration;
    configuration.sampleRate = rate;
    configuration.device = "out";
    configuration.applicationName = "somnara-integration";
    configuration.maximumFramesPerRender = 512;
    auto engine = std::make_shared<AudioEngine>(makePulseAudioOutput(configuration));
    auto player = std::make_shared<AudioPlayerNode>();
    engine->connect(player, engine->mainMixerNode());
    auto buffer = std::make_shared<AudioPcmBuffer>();
    buffer->format = AudioFormat{rate, 2};
    // A noise burst correlates with itself at one offset only.
    buffer->channels = {makeNoise(length, 0.4, 17), makeNoise(length, 0.4, 18)};
    player->scheduleBuffer(buffer, nullptr);
    ASSERT_TRUE(loop.runUntil([&] { return engine->pendingDecodes() == 0; }, std::chrono::seconds{10}));
    player->play();
    try {
        engine->start();
    } catch (const std::system_error& error) {
        GTEST_SKIP() << "PulseAudio is not reachable: " << error.what();
    }
    const std::string inputs = shellOutput("pactl list sink-inputs");
    const auto captured = recorder.left(0, 2.5);
    engine->stop();
    ASSERT_EQ(captured.size(), MonitorRecorder::frameAt(2.5));

    EXPECT_NE(inputs.find("media.role = \"music\""), std::string::npos) << inputs;
    EXPECT_NE(inputs.find("application.name = \"somnara-integration\""), std::string::npos) << inputs;

    // Find the offset: the capture starts at an unknown moment before the stream.
    const auto& played = buffer->channels[0];
    constexpr std::size_t probe = 4'096;
    std::size_t best = 0;
    double bestScore = -1;
    for (std::size_t offset = 0; offset + length <= captured.size(); ++offset) {
        double score = 0;
        for (std::size_t i = 0; i < probe; i += 4) {
            score += static_cast<double>(captured[offset + i]) * played[i];
        }
        if (score > bestScore) {
            bestScore = score;
            best = offset;
        }
    }
    double worst = 0;
    for (std::size_t i = 0; i < length; ++i) {
        worst = std::max(worst, std::abs(static_cast<double>(captured[best + i]) - played[i]));
    }
    EXPECT_LT(worst, 2.0 / 32'768) << "offset " << best;
    EXPECT_EQ(engine->underrunCount(), 0U);
}

} // namespace
} // namespace somnara::test
