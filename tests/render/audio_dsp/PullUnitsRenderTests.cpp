#include "DspRenderSupport.hpp"
#include "audio/dsp/TimePitch.hpp"
#include "audio/dsp/Varispeed.hpp"

#include <gtest/gtest.h>
#include <support/SignalMeasurements.hpp>

#include <cmath>
#include <numbers>
#include <type_traits>

namespace somnara::dsp::test {
namespace {

using somnara::test::centsBetween;
using somnara::test::maxStep;
using somnara::test::toneAmplitude;
using somnara::test::zeroCrossingFrequency;

// Both units multiply the frequencies they play by a factor: the time pitch keeping the tempo, the
// varispeed playing faster by the same factor.
void setFactor(TimePitch& unit, double factor) {
    unit.setPitch(static_cast<float>(1200 * std::log2(factor)));
}
void setFactor(Varispeed& unit, double factor) {
    unit.setRate(static_cast<float>(factor));
}

/// Runs `test` on a fresh, prepared unit of each kind.
template <class Test>
void forEachUnit(Test test) {
    {
        SCOPED_TRACE("time pitch");
        TimePitch unit;
        unit.prepare(rate, 512);
        test(unit);
    }
    SCOPED_TRACE("varispeed");
    Varispeed unit;
    unit.prepare(rate, 512);
    test(unit);
}

double levelDb(std::span<const float> x) {
    return somnara::test::toDecibels(somnara::test::rms(x) / (0.5 / std::sqrt(2.0)));
}

TEST(PullUnitsRender, ShiftTheFrequencyByTheFactorAndPullWhatTheTempoNeeds) {
    for (const double factor : {0.25, 0.5, 0.75, 1.0, 1.25, 2.0, 4.0}) {
        forEachUnit([&]<class Unit>(Unit& unit) {
            SCOPED_TRACE(factor);
            setFactor(unit, factor);
            unit.reset(); // settles on the setting, as a stage does with the published one
            SineSource source(440.0, rate);
            const std::size_t frames = static_cast<std::size_t>(10 * rate);
            const Stereo out = renderPull(unit, source, frames, 512);
            for (const auto& [from, count] :
                 {std::pair{frames / 10, frames - frames / 5},
                  std::pair{std::size_t{0}, static_cast<std::size_t>(0.02 * rate)}}) {
                const auto f = zeroCrossingFrequency(slice(out.left, from, count), rate);
                ASSERT_TRUE(f.has_value());
                EXPECT_NEAR(centsBetween(440.0 * factor, *f), 0.0, 5.0) << "from frame " << from;
            }
            EXPECT_EQ(source.pulled(), unit.upstreamFramesConsumed());
            if constexpr (std::is_same_v<Unit, TimePitch>) {
                // Tempo kept: what went in is what came out, give or take what the stretcher holds.
                EXPECT_EQ(unit.framesRendered(), frames);
                EXPECT_EQ(unit.upstreamFramesConsumed() - unit.framesRendered(), unit.latencyFrames());
                EXPECT_LT(unit.latencyFrames(), static_cast<std::size_t>(0.2 * rate));
            } else {
                // The resampler asks for input in pieces of up to 4 × the block.
                EXPECT_NEAR(static_cast<double>(source.pulled()), factor * static_cast<double>(frames),
                            4096.0);
            }
        });
    }
}

// A 220 Hz sine played at half its frequency, then at twice it. The level stays within 1 dB, the new
// frequency is reached after a glide (a phase-continuous jump would not step the waveform, so the glide
// shows in the frequency of the first 25 ms), and the largest step stays within 10 % of the steady step
// of the higher tone (2π·f·A/fs).
TEST(PullUnitsRender, AFactorChangeGlidesWithoutAStepAndKeepsTheLevel) {
    forEachUnit([](auto& unit) {
        setFactor(unit, 0.5);
        SineSource source(220.0, rate);
        const Stereo before = renderPull(unit, source, static_cast<std::size_t>(2 * rate), 512);
        setFactor(unit, 2.0);
        const Stereo after = renderPull(unit, source, static_cast<std::size_t>(2 * rate), 512);
        EXPECT_NEAR(levelDb(slice(before.left, before.frames() / 2, before.frames() / 2)), 0.0, 1.0);
        const auto steadyAfter = slice(after.left, after.frames() / 2, after.frames() / 2);
        EXPECT_NEAR(levelDb(steadyAfter), 0.0, 1.0);
        const auto f = zeroCrossingFrequency(steadyAfter, rate);
        ASSERT_TRUE(f.has_value());
        EXPECT_NEAR(centsBetween(440.0, *f), 0.0, 5.0);
        EXPECT_LT(zeroCrossingFrequency(slice(after.left, 0, 1200), rate).value_or(440.0), 0.8 * 440.0);
        EXPECT_LE(maxStep(after.left), 1.1 * 2 * std::numbers::pi * 440.0 * 0.5 / rate);
    });
}

// Bypassed, each unit plays what it pulls, frame for frame: the same as a second source pulled alike.
TEST(PullUnitsRender, BypassedUnitsPassTheirInputBitForBitAndPullOneForOne) {
    forEachUnit([&](auto& unit) {
        setFactor(unit, 1.5);
        SineSource source(440.0, rate);
        SineSource reference(440.0, rate);
        unit.setBypass(true);
        for (const std::size_t n : {333, 1, 512, 4096, 77}) {
            Stereo out(n);
            Stereo expected(n);
            unit.render(out.left.data(), out.right.data(), n, source);
            reference.pull(expected.left.data(), expected.right.data(), n);
            ASSERT_EQ(source.pulled(), reference.pulled());
            ASSERT_EQ(unit.lastUpstreamFrames(), n);
            ASSERT_EQ(out.left, expected.left);
            ASSERT_EQ(out.right, expected.right);
        }
    });
}

// Each unit doubles the frequency; bypass goes on at 0.5 s and off at 1 s. The input moves from 100 to
// 150 Hz as the bypass goes on, and the unit is asked to triple it while bypassed. Back on the processed
// path the unit must play the input of now, not what it held from before the bypass (200 Hz), at 450 Hz
// from its first 20 ms (no glide from the old setting), and no switch may click. Bound on the steps: 10 %
// over the steady step of the 450 Hz tone plus what the dip's gain ramp adds, 0.5/240 per frame.
TEST(PullUnitsRender, TogglingBypassDoesNotClickAndResumesOnTheCurrentInput) {
    forEachUnit([](auto& unit) {
        setFactor(unit, 2.0);
        SineSource source(100.0, rate);
        Stereo out(static_cast<std::size_t>(2 * rate));
        std::size_t pos = 0;
        const auto renderTo = [&](double seconds) {
            for (const auto end = static_cast<std::size_t>(seconds * rate); pos < end;) {
                const std::size_t n = std::min<std::size_t>(256, end - pos);
                unit.render(out.left.data() + pos, out.right.data() + pos, n, source);
                pos += n;
            }
        };
        renderTo(0.5);
        source.frequency = 150.0;
        unit.setBypass(true);
        renderTo(0.75);
        setFactor(unit, 3.0);
        renderTo(1.0);
        unit.setBypass(false);
        renderTo(2.0);
        const double steady = 2 * std::numbers::pi * 450 * 0.5 / rate;
        EXPECT_LE(maxStep(slice(out.left, 4800, out.frames() - 4800)), 1.1 * steady + 0.5 / (0.005 * rate));
        EXPECT_NEAR(toneAmplitude(slice(out.left, static_cast<std::size_t>(0.8 * rate), 4800), 150.0, rate),
                    0.5, 0.01)
            << "bypassed";
        const auto resumed = slice(out.left, static_cast<std::size_t>(1.01 * rate), 2400);
        EXPECT_LT(toneAmplitude(resumed, 200.0, rate), 0.01) << "played what it held before the bypass";
        const auto resumedAt = zeroCrossingFrequency(resumed.first(960), rate);
        ASSERT_TRUE(resumedAt.has_value());
        EXPECT_NEAR(*resumedAt, 450.0, 5.0) << "glided from the setting before the bypass";
        EXPECT_NEAR(toneAmplitude(slice(out.left, static_cast<std::size_t>(1.5 * rate), 4800), 450.0, rate),
                    0.5, 0.01);
    });
}

} // namespace
} // namespace somnara::dsp::test
