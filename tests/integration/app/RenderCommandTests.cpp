#include "RunSomnara.hpp"
#include "support/AudioFileContents.hpp"
#include "support/SignalMeasurements.hpp"

#include <somnara/linux/ffmpeg/FfmpegAudioFile.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <span>
#include <string>
#include <vector>

using namespace somnara;

namespace {

namespace fs = std::filesystem;

double rmsBetween(const std::vector<float>& signal, double sampleRate, double from, double to) {
    const auto begin = static_cast<std::size_t>(from * sampleRate);
    const auto end = std::min(signal.size(), static_cast<std::size_t>(to * sampleRate));
    return test::rms(std::span<const float>(signal).subspan(begin, end - begin));
}

class RenderCommand : public test::HomeTest {
protected:
    test::AudioFileContents render(const std::string& arguments, const std::string& name) {
        const auto file = home / name;
        const auto outcome = somnara(arguments + " --output '" + file.string() + "'");
        EXPECT_EQ(outcome.status, 0) << outcome.output;
        return test::readToEnd(*openAudioFile(file));
    }
};

TEST_F(RenderCommand, RendersTheRequestedLengthFadesMixesAtTheVolumesAndStreamsRawFloats) {
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

    // A sound at volume 0 adds nothing; raw floats stream the same samples.
    const auto both = render("render rain thunder --volume thunder=0 -d 1 --no-fades", "both.wav");
    ASSERT_EQ(both.left.size(), 44'100U);
    for (std::size_t frame = 0; frame < both.left.size(); ++frame) {
        ASSERT_NEAR(both.left[frame], plain.left[frame], 1e-6) << "frame " << frame;
    }
    const auto raw = somnara("render rain -d 1 --no-fades --output -", /*withErrors=*/false);
    ASSERT_EQ(raw.status, 0);
    ASSERT_EQ(raw.output.size(), 44'100U * 2U * sizeof(float));
    std::vector<float> interleaved(44'100U * 2U);
    std::memcpy(interleaved.data(), raw.output.data(), raw.output.size());
    for (std::size_t frame = 0; frame < 44'100U; frame += 97) {
        ASSERT_EQ(interleaved[2 * frame], plain.left[frame]);
        ASSERT_EQ(interleaved[2 * frame + 1], plain.right[frame]);
    }
}

TEST_F(RenderCommand, AppliesTheStoredSoundSettings) {
    const auto before = render("render waves -d 2 --no-fades", "before.wav");
    const auto white = render("render white_real -d 1 --no-fades", "white.wav");

    ASSERT_EQ(somnara("settings set volume=0.5").status, 0);
    const auto quieter = render("render waves -d 2 --no-fades", "quieter.wav");
    EXPECT_NEAR(test::rms(quieter.left) / test::rms(before.left), 0.5, 0.001);

    // Half speed stretches every wave to twice its length: the noise crosses zero half as often.
    ASSERT_EQ(somnara("settings set volume=1 speed=0.5").status, 0);
    const auto slow = render("render white_real -d 1 --no-fades", "slow.wav");
    const auto normalCrossings = test::zeroCrossingFrequency(white.left, white.sampleRate);
    const auto slowCrossings = test::zeroCrossingFrequency(slow.left, slow.sampleRate);
    ASSERT_TRUE(normalCrossings && slowCrossings);
    EXPECT_GT(*normalCrossings, 5'000.0) << "white noise reaches high";
    EXPECT_NEAR(*slowCrossings / *normalCrossings, 0.5, 0.05)
        << *normalCrossings << " then " << *slowCrossings;

    // A pan sweep of 1 s from side to side: the balance swings fully both ways within 4 s.
    ASSERT_EQ(somnara("settings set speed=1 oscillation.rate=1 oscillation.strength=1").status, 0);
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

} // namespace
