// The generator's building blocks: the transform, the loop-preserving tools, mastering, and the fifty
// models at a small size.

#include <gtest/gtest.h>
#include <soundgen/Fft.hpp>
#include <soundgen/Mastering.hpp>
#include <soundgen/Sounds.hpp>
#include <soundgen/Synth.hpp>

#include <cmath>
#include <numbers>
#include <set>

namespace somnara::soundgen {
namespace {

TEST(Fft, MatchesTheDefinitionForMixedRadixSizes) {
    for (const std::size_t size : {1UL, 2UL, 3UL, 5UL, 7UL, 12UL, 30UL, 49UL, 64UL, 210UL, 1000UL, 1323UL}) {
        SCOPED_TRACE(size);
        Rng rng(size);
        std::vector<std::complex<double>> input(size);
        for (auto& value : input) {
            value = {rng.gaussian(), rng.gaussian()};
        }
        auto transformed = input;
        const Fft fft(size);
        fft.forward(transformed);
        double worst = 0;
        for (std::size_t k = 0; k < size; ++k) {
            std::complex<double> expected = 0;
            for (std::size_t n = 0; n < size; ++n) {
                const double angle =
                    -2 * std::numbers::pi * static_cast<double>(k * n % size) / static_cast<double>(size);
                expected += input[n] * std::complex<double>(std::cos(angle), std::sin(angle));
            }
            worst = std::max(worst, std::abs(transformed[k] - expected));
        }
        EXPECT_LT(worst, 1e-9 * static_cast<double>(size));
        fft.inverse(transformed);
        for (std::size_t n = 0; n < size; ++n) {
            EXPECT_LT(std::abs(transformed[n] - input[n]), 1e-12 * static_cast<double>(size));
        }
    }
}

Signal rotated(const Signal& x, std::size_t by) {
    Signal result(x.size());
    for (std::size_t i = 0; i < x.size(); ++i) {
        result[(i + by) % x.size()] = x[i];
    }
    return result;
}

double maxDifference(const Signal& a, const Signal& b) {
    double worst = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        worst = std::max(worst, static_cast<double>(std::abs(a[i] - b[i])));
    }
    return worst;
}

// A loop has no start: an operation that keeps loops seamless gives the same result, only rotated,
// when its input is rotated. A filter started cold, or a grain that did not wrap, would not.
TEST(Synth, LoopToolsCommuteWithRotation) {
    const double rate = 8000;
    const std::size_t frames = 8000 * 3;
    Synth synth(rate, frames, 3);
    const Signal input = synth.noise();
    const std::size_t shift = 5555;
    struct Case {
        const char* name;
        std::function<void(Signal&)> operation;
        double tolerance;
    };
    Signal cutoff(frames);
    for (std::size_t i = 0; i < frames; ++i) {
        cutoff[i] = static_cast<float>(500 + 300 * synth.sine(2.0 / 3, i));
    }
    const Signal grain = noiseBurst(synth, 0.5, 1000, 1, 0.01, 0.1);
    const Case cases[] = {
        {"biquad", [&](Signal& s) { synth.filter(s, Biquad::lowPass(rate, 200, 2)); }, 1e-4},
        {"shape", [&](Signal& s) { synth.shape(s, [](double hz) { return 1 / std::max(hz, 20.0); }); }, 1e-5},
        {"reverb",
         [&](Signal& s) {
             Stereo stereo{s, s};
             reverb(stereo, rate, 0.3, 0.5);
             s = stereo.left;
         },
         1e-4},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Signal plain = input;
        c.operation(plain);
        Signal turned = rotated(input, shift);
        c.operation(turned);
        EXPECT_LT(maxDifference(turned, rotated(plain, shift)), c.tolerance);
    }
    // A grain placed across the end continues at the start.
    Signal wrapped = synth.silence();
    synth.place(wrapped, grain, 2.75);
    Signal straight = synth.silence();
    synth.place(straight, grain, 1.0);
    EXPECT_EQ(maxDifference(rotated(wrapped, 8000 + frames - 22'000), straight), 0.0);
    // A modulated filter with its cutoff rotated too.
    Signal plain = input;
    sweep(plain, cutoff, 2, Band::band, rate, true);
    Signal turned = rotated(input, shift);
    sweep(turned, rotated(cutoff, shift), 2, Band::band, rate, true);
    EXPECT_LT(maxDifference(turned, rotated(plain, shift)), 1e-4);
}

TEST(Synth, WanderAndSinesJoinAtTheEnd) {
    Synth synth(8000, 8000 * 2 + 7, 5);
    const Signal curve = synth.wander(3);
    const std::size_t n = curve.size();
    // The step over the end is no bigger than the steps inside.
    double largestStep = 0;
    for (std::size_t i = 1; i < n; ++i) {
        largestStep = std::max(largestStep, static_cast<double>(std::abs(curve[i] - curve[i - 1])));
    }
    EXPECT_LE(std::abs(curve[0] - curve[n - 1]), largestStep);
    // A loop frequency has whole cycles: the sample after the last is the first.
    const double hz = synth.loopFrequency(441.3);
    EXPECT_NEAR(std::sin(2 * std::numbers::pi * hz * static_cast<double>(n) / synth.rate()), 0.0, 1e-9);
    EXPECT_NEAR(synth.sine(hz, n - 1, 0.4), std::sin(-2 * std::numbers::pi * hz / synth.rate() + 0.4), 1e-9);
}

TEST(Mastering, ReachesTheTargetHoldsPeaksAndQuantises) {
    const double rate = 44'100;
    const std::size_t frames = 44'100 * 5;
    Synth synth(rate, frames, 9);
    struct Case {
        const char* name;
        Stereo input;
    };
    Stereo quiet = stereoNoise(synth, 0.5);
    scale(quiet.left, 0.001);
    scale(quiet.right, 0.001);
    // Loud clicks on near silence: normalising the loudness alone would clip them.
    Stereo clicks{synth.silence(), synth.silence()};
    for (const double t : synth.times(20)) {
        synth.place(clicks, noiseBurst(synth, 0.02, 3000, 1, 0.0005, 0.003), t, 1.0, 0.0);
    }
    Case cases[] = {{"quiet noise", quiet}, {"clicks", clicks}};
    for (auto& [name, stereo] : cases) {
        SCOPED_TRACE(name);
        const double loudness = master(stereo, rate, 1);
        EXPECT_NEAR(loudness, targetLoudness, 0.2);
        EXPECT_NEAR(integratedLoudness(stereo, rate), targetLoudness, 0.2);
        for (const Signal* channel : {&stereo.left, &stereo.right}) {
            for (const float sample : *channel) {
                ASSERT_LE(std::abs(sample), peakCeiling + 2.0 / 32768);
                ASSERT_EQ(sample * 32768.0F, std::round(sample * 32768.0F));
            }
        }
    }
}

TEST(Sounds, TheFiftyAreDeterministicDistinctAndAudibleAtAnyLength) {
    const auto recipes = soundRecipes();
    ASSERT_EQ(recipes.size(), 50U);
    std::set<std::string_view> names;
    for (const auto& recipe : recipes) {
        SCOPED_TRACE(std::string(recipe.fileName));
        names.insert(recipe.fileName);
        // Short loops at a low rate keep this quick; the models do not depend on the length.
        const Stereo first = synthesise(recipe, 16'000, 16'000 * 2, 42);
        const Stereo again = synthesise(recipe, 16'000, 16'000 * 2, 42);
        const Stereo other = synthesise(recipe, 16'000, 16'000 * 2, 43);
        ASSERT_EQ(first.right.size(), 32'000U);
        EXPECT_EQ(first.left, again.left);
        EXPECT_EQ(first.right, again.right);
        EXPECT_NE(first.left, other.left);
        EXPECT_GT(rms(first.left) + rms(first.right), 1e-6);
        for (const float sample : first.left) {
            ASSERT_TRUE(std::isfinite(sample));
        }
    }
    EXPECT_EQ(names.size(), 50U);
}

} // namespace
} // namespace somnara::soundgen
