#include "DspRenderSupport.hpp"
#include "audio/dsp/TimePitch.hpp"
#include "audio/dsp/Varispeed.hpp"

#include <gtest/gtest.h>
#include <support/SignalMeasurements.hpp>

#include <cmath>
#include <functional>
#include <numbers>

namespace somnara::dsp::test {
namespace {

using somnara::test::centsBetween;
using somnara::test::makeNoise;
using somnara::test::maxStep;
using somnara::test::toneAmplitude;
using somnara::test::zeroCrossingFrequency;

constexpr double rate = 48000.0;

TEST(TimePitchRender, ShiftsASineByTheRequestedCentsAndKeepsTheDuration) {
    for (const float cents : {500.0f, -500.0f, 0.0f, 1200.0f, -2400.0f, 2400.0f, 200.0f}) {
        SCOPED_TRACE(cents);
        TimePitch unit;
        unit.prepare(rate, 512);
        unit.setPitch(cents);
        unit.reset(); // settles on the pitch, as a stage does with the published one
        SineSource source(440.0, rate);
        const std::size_t frames = static_cast<std::size_t>(10 * rate);
        const Stereo out = renderPull(unit, source, frames, 512);

        const auto f = zeroCrossingFrequency(slice(out.left, frames / 10, frames - frames / 10), rate);
        ASSERT_TRUE(f.has_value());
        EXPECT_NEAR(centsBetween(440.0, *f), cents, 5.0);
        const auto first =
            zeroCrossingFrequency(slice(out.left, 0, static_cast<std::size_t>(0.02 * rate)), rate);
        ASSERT_TRUE(first.has_value());
        EXPECT_NEAR(centsBetween(440.0, *first), cents, 5.0) << "glided to the pitch in the first 20 ms";
        // Tempo kept: what went in is what came out, give or take what the stretcher holds (under 0.2 s).
        EXPECT_EQ(unit.framesRendered(), frames);
        EXPECT_EQ(source.pulled(), unit.upstreamFramesConsumed());
        EXPECT_GE(source.pulled(), frames);
        EXPECT_EQ(unit.upstreamFramesConsumed() - unit.framesRendered(), unit.latencyFrames());
        EXPECT_LT(unit.latencyFrames(), static_cast<std::size_t>(0.2 * rate));
    }
}

TEST(TimePitchRender, KeepsTheLevelAndGlidesToANewPitchWithoutAStep) {
    // 220 Hz sine, amplitude 0.5, shifted by -500 cents, then moved to +700 cents while playing. The level
    // stays within 1 dB, the new pitch is reached, and the largest step stays within 10 % of the steady
    // step of the higher tone (2π·f·A/fs).
    TimePitch unit;
    unit.prepare(rate, 512);
    unit.setPitch(-500.0f);
    SineSource source(220.0, rate);
    const Stereo before = renderPull(unit, source, static_cast<std::size_t>(2 * rate), 512);
    unit.setPitch(700.0f);
    const Stereo after = renderPull(unit, source, static_cast<std::size_t>(2 * rate), 512);
    const auto steadyBefore = slice(before.left, before.frames() / 2, before.frames() / 2);
    const auto steadyAfter = slice(after.left, after.frames() / 2, after.frames() / 2);
    EXPECT_NEAR(somnara::test::toDecibels(somnara::test::rms(steadyBefore) / (0.5 / std::sqrt(2.0))), 0.0,
                1.0);
    EXPECT_NEAR(somnara::test::toDecibels(somnara::test::rms(steadyAfter) / (0.5 / std::sqrt(2.0))), 0.0,
                1.0);
    const auto f = zeroCrossingFrequency(steadyAfter, rate);
    ASSERT_TRUE(f.has_value());
    EXPECT_NEAR(centsBetween(220.0, *f), 700.0, 5.0);
    const double high = 220.0 * std::exp2(700.0 / 1200.0);
    EXPECT_LE(maxStep(slice(after.left, 0, after.frames())), 1.1 * 2 * std::numbers::pi * high * 0.5 / rate);
}

TEST(VarispeedRender, ChangesFrequencyAndConsumptionByTheRate) {
    for (const float r : {0.5f, 2.0f, 0.25f, 4.0f, 1.25f}) {
        SCOPED_TRACE(r);
        Varispeed unit;
        unit.prepare(rate, 512);
        unit.setRate(r);
        SineSource source(1000.0, rate);
        const std::size_t frames = static_cast<std::size_t>(10 * rate);
        const Stereo out = renderPull(unit, source, frames, 512);
        const auto f = zeroCrossingFrequency(slice(out.left, frames / 10, frames - frames / 10), rate);
        ASSERT_TRUE(f.has_value());
        EXPECT_NEAR(*f / 1000.0, r, 0.005 * r);
        // Upstream advanced rate × output, within the resampler's look-ahead.
        EXPECT_EQ(source.pulled(), unit.upstreamFramesConsumed());
        // The look-ahead is bounded in frames (the resampler asks for input in pieces of up to 4 × the
        // block).
        EXPECT_NEAR(static_cast<double>(source.pulled()), r * static_cast<double>(frames), 4096.0);
    }
}

TEST(VarispeedRender, RateChangeGlidesWithoutAStep) {
    // 200 Hz sine; the rate jumps from 0.5 to 2 (100 Hz → 400 Hz heard). Bound: the largest step stays
    // within 10 % of the steady step of the 400 Hz tone, 2π·400·0.5/fs ≈ 0.026.
    Varispeed unit;
    unit.prepare(rate, 256);
    unit.setRate(0.5f);
    SineSource source(200.0, rate);
    Stereo out = renderPull(unit, source, static_cast<std::size_t>(rate), 256);
    unit.setRate(2.0f);
    const Stereo after = renderPull(unit, source, static_cast<std::size_t>(rate), 256);
    const double steady = 2 * std::numbers::pi * 400 * 0.5 / rate;
    EXPECT_LE(maxStep(after.left), 1.1 * steady);
    const auto f = zeroCrossingFrequency(slice(after.left, after.frames() / 2, after.frames() / 2), rate);
    ASSERT_TRUE(f.has_value());
    EXPECT_NEAR(*f, 400.0, 2.0);
}

template <class Unit>
void expectBypassIsExactAndPullsOneForOne(Unit& unit) {
    const Stereo signal(makeNoise(48000), makeNoise(48000, 0.5, 21));
    BufferSource source(signal);
    unit.setBypass(true);
    for (std::size_t pos = 0; pos < signal.frames(); pos += 333) {
        const std::size_t n = std::min<std::size_t>(333, signal.frames() - pos);
        Stereo out(n);
        const auto before = source.pulled();
        unit.render(out.left.data(), out.right.data(), n, source);
        ASSERT_EQ(source.pulled() - before, n);
        ASSERT_EQ(unit.lastUpstreamFrames(), n);
        ASSERT_TRUE(
            std::equal(out.left.begin(), out.left.end(), signal.left.begin() + static_cast<long>(pos)));
        ASSERT_TRUE(
            std::equal(out.right.begin(), out.right.end(), signal.right.begin() + static_cast<long>(pos)));
    }
}

TEST(PullUnitsRender, BypassedUnitsPassTheirInputBitForBitAndPullOneForOne) {
    TimePitch pitch;
    pitch.prepare(rate, 512);
    pitch.setPitch(700.0f);
    expectBypassIsExactAndPullsOneForOne(pitch);
    Varispeed speed;
    speed.prepare(rate, 512);
    speed.setRate(1.5f);
    expectBypassIsExactAndPullsOneForOne(speed);
}

/// A sine on both channels whose frequency can change while it plays, keeping its phase.
class GlidingSine final : public AudioSource {
public:
    void pull(float* left, float* right, std::size_t frames) noexcept override {
        for (std::size_t i = 0; i < frames; ++i) {
            phase_ += 2.0 * std::numbers::pi * frequency / rate;
            left[i] = right[i] = static_cast<float>(0.5 * std::sin(phase_));
        }
    }
    double frequency = 100.0;

private:
    double phase_ = 0.0;
};

// Each unit doubles the frequency; bypass goes on at 0.5 s and off at 1 s. The input moves from 100 to
// 150 Hz as the bypass goes on, and the unit is asked to triple it while bypassed. Back on the processed
// path the unit must play the input of now, not what it held from before the bypass (200 Hz), at 450 Hz
// from its first 20 ms (no glide from the old setting), and no switch may click. Bound on the steps: 10 %
// over the steady step of the 450 Hz tone plus what the dip's gain ramp adds, 0.5/240 per frame.
TEST(PullUnitsRender, TogglingBypassDoesNotClickAndResumesOnTheCurrentInput) {
    TimePitch pitch;
    pitch.prepare(rate, 512);
    pitch.setPitch(1200.0f);
    Varispeed speed;
    speed.prepare(rate, 512);
    speed.setRate(2.0f);
    const struct {
        const char* name;
        std::function<void(float*, float*, std::size_t, AudioSource&)> render;
        std::function<void(bool)> setBypass;
        std::function<void()> tripleTheFrequency;
    } units[] = {
        {"time pitch", [&](float* l, float* r, std::size_t n, AudioSource& s) { pitch.render(l, r, n, s); },
         [&](bool bypass) { pitch.setBypass(bypass); },
         [&] { pitch.setPitch(static_cast<float>(1200 * std::log2(3.0))); }},
        {"varispeed", [&](float* l, float* r, std::size_t n, AudioSource& s) { speed.render(l, r, n, s); },
         [&](bool bypass) { speed.setBypass(bypass); }, [&] { speed.setRate(3.0f); }},
    };
    for (const auto& unit : units) {
        SCOPED_TRACE(unit.name);
        GlidingSine source;
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
        unit.tripleTheFrequency();
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
    }
}

} // namespace
} // namespace somnara::dsp::test
