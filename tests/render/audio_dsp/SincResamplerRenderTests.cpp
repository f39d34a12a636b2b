#include "DspRenderSupport.hpp"
#include "audio/dsp/SincResampler.hpp"

#include <gtest/gtest.h>
#include <support/SignalMeasurements.hpp>

#include <cmath>
#include <numbers>

namespace somnara::dsp::test {
namespace {

/// What is left of `x` once the best-fitting sine at `frequency` is taken out (least squares on a sine
/// and a cosine), as RMS relative to that sine's amplitude, in dB.
double residualBelowTone(std::span<const float> x, double frequency) {
    double ss = 0, sc = 0, cc = 0, xs = 0, xc = 0;
    for (std::size_t i = 0; i < x.size(); ++i) {
        const double w = 2.0 * std::numbers::pi * frequency * static_cast<double>(i) / rate;
        const double s = std::sin(w);
        const double c = std::cos(w);
        ss += s * s;
        sc += s * c;
        cc += c * c;
        xs += x[i] * s;
        xc += x[i] * c;
    }
    const double det = ss * cc - sc * sc;
    const double a = (xs * cc - xc * sc) / det;
    const double b = (xc * ss - xs * sc) / det;
    double residual = 0;
    for (std::size_t i = 0; i < x.size(); ++i) {
        const double w = 2.0 * std::numbers::pi * frequency * static_cast<double>(i) / rate;
        const double e = x[i] - (a * std::sin(w) + b * std::cos(w));
        residual += e * e;
    }
    const double amplitude = std::hypot(a, b);
    return somnara::test::toDecibels(std::sqrt(residual / static_cast<double>(x.size())) / amplitude);
}

/// A sine of amplitude 0.5 at `tone` Hz read at a steady `ratio` for `frames` output frames.
Stereo resampleTone(double tone, double ratio, std::size_t frames) {
    SincResampler resampler;
    resampler.prepare(4.0, 512);
    resampler.setRatio(ratio, 0);
    SineSource source(tone, rate);
    return renderPull(resampler, source, frames, 512);
}

// A tone read at a steady ratio comes out as a clean tone at ratio × its frequency: what the kernel
// leaves besides it (interpolation error, images of the input's spectrum, what folds back when reading
// faster) stays far below it, including near the top of the band where a short kernel is weakest. A
// tone that would land above the output's Nyquist frequency would fold back into the band: the widened
// kernel removes it first.
TEST(SincResamplerRender, ResampledTonesAreCleanAndTonesAboveTheNewNyquistFrequencyAreRemoved) {
    struct Case {
        double tone;
        double ratio;
        double floorDb;
    };
    const auto folding = [](double ratio) { return Case{rate * 0.55 / ratio + 2000.0, ratio, -70}; };
    for (const Case c : {Case{1000, 0.84, -80}, Case{1000, 0.9, -80}, Case{1000, 0.25, -80},
                         Case{1000, 1.5, -80}, Case{1000, 3.7, -80}, Case{15000, 0.84, -75},
                         Case{12000, 1.25, -75}, folding(1.5), folding(2.0), folding(4.0)}) {
        SCOPED_TRACE(testing::Message() << c.tone << " Hz at " << c.ratio);
        const Stereo out = resampleTone(c.tone, c.ratio, static_cast<std::size_t>(rate));
        const auto steady = slice(out.left, 4800, 38400);
        if (c.tone * c.ratio > rate / 2) {
            EXPECT_LT(somnara::test::toDecibels(somnara::test::rms(steady) / 0.5), c.floorDb);
            continue;
        }
        EXPECT_LT(residualBelowTone(steady, c.tone * c.ratio), c.floorDb);
        EXPECT_NEAR(somnara::test::rms(steady), 0.5 / std::sqrt(2.0), 0.5 / std::sqrt(2.0) * 0.01);
    }
}

// Pulls follow what is played: the position runs exactly ratio × frames through the input, and the
// input pulled runs ahead of it by no more than half a kernel and the rounding of the last pull.
TEST(SincResamplerRender, PullsWhatItPlaysPlusHalfAKernel) {
    for (const double ratio : {0.84, 1.0, 2.5}) {
        SCOPED_TRACE(ratio);
        SincResampler resampler;
        resampler.prepare(4.0, 256);
        resampler.setRatio(ratio, 0);
        SineSource source(440.0, rate);
        for (const std::size_t block : {256, 1, 77, 200}) {
            Stereo out(block);
            resampler.render(out.left.data(), out.right.data(), block, source);
            EXPECT_EQ(static_cast<std::int64_t>(source.pulled()), resampler.framesPulled());
            EXPECT_GE(resampler.inputAhead(), static_cast<double>(SincResampler::taps / 2));
            EXPECT_LE(resampler.inputAhead(), SincResampler::taps / 2 * std::max(1.0, ratio) + 4 + ratio);
        }
    }
}

} // namespace
} // namespace somnara::dsp::test
