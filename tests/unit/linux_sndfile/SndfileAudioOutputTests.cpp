#include "support/SignalMeasurements.hpp"
#include "support/TemporaryDirectory.hpp"

#include <somnara/linux/sndfile/SndfileAudioOutput.hpp>

#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>

namespace somnara::test {
namespace {

/// Renders a known signal: a sine on the left, noise on the right.
struct KnownSignal final : AudioRenderer {
    void render(float* l, float* r, std::size_t frames) noexcept override {
        for (std::size_t i = 0; i < frames; ++i, ++position) {
            l[i] = left[position];
            r[i] = right[position];
        }
    }
    const std::vector<float> left = makeSine(997, 44'100, 50'000);
    const std::vector<float> right = makeNoise(50'000, 0.5, 9);
    std::size_t position = 0;
};

AudioOutputConfiguration fileAt(const std::filesystem::path& path) {
    AudioOutputConfiguration configuration;
    configuration.sampleRate = 44'100;
    configuration.maximumFramesPerRender = 1'000;
    configuration.path = path;
    return configuration;
}

// What is rendered is what the file holds: float WAV bit for bit, 24-bit FLAC to its resolution, with
// the rate and length of the render, also when the caller discards the audio.
TEST(SndfileAudioOutput, fileHoldsWhatWasRendered) {
    TemporaryDirectory directory;
    struct Case {
        const char* name;
        double tolerance;
    };
    for (const Case c : {Case{"mix.wav", 0.0}, Case{"mix.flac", 1.0 / (1 << 23)}}) {
        SCOPED_TRACE(c.name);
        const auto path = directory.path() / c.name;
        auto output = makeSndfileAudioOutput(fileAt(path));
        KnownSignal signal;
        output->start(signal);
        std::vector<float> left(30'000);
        std::vector<float> right(30'000);
        output->render(left.data(), right.data(), left.size());
        output->render(nullptr, nullptr, 12'345);
        output->stop();

        SF_INFO info{};
        SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
        ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
        EXPECT_EQ(info.samplerate, 44'100);
        EXPECT_EQ(info.channels, 2);
        ASSERT_EQ(info.frames, 42'345);
        std::vector<float> interleaved(2 * static_cast<std::size_t>(info.frames));
        sf_readf_float(file, interleaved.data(), info.frames);
        sf_close(file);
        double worst = 0;
        for (std::size_t i = 0; i < static_cast<std::size_t>(info.frames); ++i) {
            worst = std::max({worst, std::abs(static_cast<double>(interleaved[2 * i]) - signal.left[i]),
                              std::abs(static_cast<double>(interleaved[2 * i + 1]) - signal.right[i])});
        }
        EXPECT_LE(worst, c.tolerance);
    }
}

TEST(SndfileAudioOutput, refusesWhatItCannotWrite) {
    TemporaryDirectory directory;
    struct Case {
        std::filesystem::path path;
        AudioOutputErrc expected;
    };
    const Case cases[] = {
        {directory.path() / "mix.mp3", AudioOutputErrc::invalidConfiguration},
        {directory.path() / "missing" / "folder" / "mix.wav", AudioOutputErrc::fileNotWritable},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        auto output = makeSndfileAudioOutput(fileAt(c.path));
        KnownSignal signal;
        try {
            output->start(signal);
            ADD_FAILURE() << "started";
        } catch (const std::system_error& error) {
            EXPECT_EQ(error.code(), make_error_code(c.expected));
        }
        EXPECT_FALSE(output->isRunning());
    }
}

} // namespace
} // namespace somnara::test
