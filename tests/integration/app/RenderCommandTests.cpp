#include "RunSomnara.hpp"
#include "support/SignalMeasurements.hpp"
#include "support/TemporaryDirectory.hpp"
#include "support/TestLoop.hpp"

#include <somnara/linux/ffmpeg/FfmpegAudioFile.hpp>
#include <somnara/platform/FileLocations.hpp>
#include <somnara/platform/UserDefaults.hpp>
#include <somnara/settings/NoisePlayerSettingsStore.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <span>
#include <string>
#include <vector>

using namespace somnara;

namespace {

namespace fs = std::filesystem;

struct Stereo {
    double sampleRate = 0;
    std::vector<float> left;
    std::vector<float> right;
};

Stereo readRendered(const fs::path& file) {
    auto audio = openAudioFile(file);
    Stereo stereo{audio->processingFormat().sampleRate,
                  std::vector<float>(static_cast<std::size_t>(audio->length())),
                  std::vector<float>(static_cast<std::size_t>(audio->length()))};
    float* channels[] = {stereo.left.data(), stereo.right.data()};
    std::size_t done = 0;
    while (done < stereo.left.size()) {
        float* at[] = {channels[0] + done, channels[1] + done};
        const auto read = audio->read(at, stereo.left.size() - done);
        if (read == 0) {
            break;
        }
        done += read;
    }
    stereo.left.resize(done);
    stereo.right.resize(done);
    return stereo;
}

double rmsBetween(const std::vector<float>& signal, double sampleRate, double from, double to) {
    const auto begin = static_cast<std::size_t>(from * sampleRate);
    const auto end = std::min(signal.size(), static_cast<std::size_t>(to * sampleRate));
    return test::rms(std::span<const float>(signal).subspan(begin, end - begin));
}

/// A home with its own settings; the program renders in it.
class RenderCommand : public test::LoopTest {
protected:
    ~RenderCommand() override {
        UserDefaults::resetShared();
        FileLocations::setShared(nullptr);
        unsetenv("SOMNARA_HOME");
    }

    test::Outcome somnara(const std::string& arguments, bool withErrors = true) {
        return test::runOnStoredState("SOMNARA_HOME='" + home.path().string() + "'", arguments, withErrors);
    }

    Stereo render(const std::string& arguments, const std::string& name) {
        const auto file = home / name;
        const auto outcome = somnara(arguments + " --output '" + file.string() + "'");
        EXPECT_EQ(outcome.status, 0) << outcome.output;
        return readRendered(file);
    }

    /// Stores sound settings in the home as the app's settings screen would.
    void storeSoundSettings(const SoundSettings& soundSettings) {
        setenv("SOMNARA_HOME", home.path().c_str(), 1);
        FileLocations::setShared(nullptr);
        UserDefaults::resetShared();
        auto store = NoisePlayerSettingsStore::make();
        run([&]() -> asio::awaitable<void> {
            auto set = store->setSoundSettings(soundSettings);
            co_await std::move(set);
        });
        loop.runUntilIdle();
    }

    test::TemporaryDirectory home{"somnara-render"};
};

TEST_F(RenderCommand, RendersTheRequestedLengthAndFadesInAndOut) {
    const auto plain = render("render rain --duration 3s --no-fades", "plain.wav");
    ASSERT_EQ(plain.sampleRate, 44'100);
    EXPECT_EQ(plain.left.size(), 3U * 44'100U);
    const double level = rmsBetween(plain.left, plain.sampleRate, 1.0, 2.0);
    EXPECT_GT(level, 0.01) << "rain is audible";
    EXPECT_GT(rmsBetween(plain.left, plain.sampleRate, 0.0, 0.05), 0.5 * level)
        << "without fades it starts at once";

    // The stored fades: 2 s in at play, 0.5 s out at stop, measured from the same audio.
    const auto faded = render("render rain -d 3", "faded.flac");
    EXPECT_EQ(faded.left.size(), 3U * 44'100U);
    EXPECT_LT(rmsBetween(faded.left, faded.sampleRate, 0.0, 0.1), 0.1 * level);
    EXPECT_NEAR(rmsBetween(faded.left, faded.sampleRate, 2.1, 2.4) /
                    rmsBetween(plain.left, plain.sampleRate, 2.1, 2.4),
                1.0, 0.02);
    EXPECT_LT(rmsBetween(faded.left, faded.sampleRate, 2.95, 3.0), 0.2 * level);
}

TEST_F(RenderCommand, AppliesTheStoredSoundSettings) {
    const auto before = render("render waves -d 2 --no-fades", "before.wav");

    storeSoundSettings(SoundSettings::defaultValue().withVolume(0.5F));
    const auto quieter = render("render waves -d 2 --no-fades", "quieter.wav");
    EXPECT_NEAR(test::rms(quieter.left) / test::rms(before.left), 0.5, 0.001);

    // A pan sweep of 1 s from side to side: the balance swings fully both ways within 4 s.
    storeSoundSettings(SoundSettings::defaultValue().withOscillation({.rate = 1.0, .strength = 1.0F}));
    const auto swept = render("render waves -d 4 --no-fades", "swept.wav");
    double mostLeft = 0;
    double mostRight = 0;
    for (double at = 0; at + 0.1 <= 4.0; at += 0.1) {
        const double left = rmsBetween(swept.left, swept.sampleRate, at, at + 0.1);
        const double right = rmsBetween(swept.right, swept.sampleRate, at, at + 0.1);
        const double balance = (right * right - left * left) / (right * right + left * left);
        mostLeft = std::min(mostLeft, balance);
        mostRight = std::max(mostRight, balance);
    }
    EXPECT_LT(mostLeft, -0.8);
    EXPECT_GT(mostRight, 0.8);
}

TEST_F(RenderCommand, MixesSoundsAtTheirVolumesAndStreamsRawFloats) {
    const auto rain = render("render rain -d 1 --no-fades", "rain.wav");
    const auto both = render("render rain thunder --volume thunder=0 -d 1 --no-fades", "both.wav");
    for (std::size_t frame = 0; frame < rain.left.size(); ++frame) {
        ASSERT_NEAR(both.left[frame], rain.left[frame], 1e-6)
            << "thunder at volume 0 adds nothing, frame " << frame;
    }

    const auto raw = somnara("render rain -d 1 --no-fades --output -", /*withErrors=*/false);
    ASSERT_EQ(raw.status, 0);
    ASSERT_EQ(raw.output.size(), 44'100U * 2U * sizeof(float));
    std::vector<float> interleaved(44'100U * 2U);
    std::memcpy(interleaved.data(), raw.output.data(), raw.output.size());
    for (std::size_t frame = 0; frame < rain.left.size(); frame += 97) {
        ASSERT_EQ(interleaved[2 * frame], rain.left[frame]);
        ASSERT_EQ(interleaved[2 * frame + 1], rain.right[frame]);
    }
}

} // namespace
