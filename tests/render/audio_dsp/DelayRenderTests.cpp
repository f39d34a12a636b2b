#include "DspRenderSupport.hpp"
#include "audio/dsp/Delay.hpp"

#include <gtest/gtest.h>
#include <support/SignalMeasurements.hpp>

#include <cmath>
#include <numbers>

namespace somnara::dsp::test {
namespace {

using somnara::test::makeNoise;
using somnara::test::makeSine;
using somnara::test::maxStep;
using somnara::test::rms;

constexpr double rate = 48000.0;

// A raised-cosine pulse of 64 frames (its spectrum lies far below the loop's 15 kHz cut-off), at frame 0.
Stereo pulse(std::size_t frames) {
    Stereo s(frames);
    for (std::size_t i = 0; i < 64; ++i) {
        const float v =
            static_cast<float>(0.5 - 0.5 * std::cos(2 * std::numbers::pi * static_cast<double>(i) / 64.0));
        s.left[i] = v;
        s.right[i] = -v;
    }
    return s;
}

struct Echo {
    std::size_t frame;
    double value;
};

// The sample of largest magnitude within ±half a delay of `centre`.
Echo echoAround(const std::vector<float>& x, std::size_t centre, std::size_t halfWidth) {
    Echo e{centre, 0.0};
    for (std::size_t i = centre - halfWidth; i < std::min(x.size(), centre + halfWidth); ++i) {
        if (std::abs(x[i]) > std::abs(e.value)) {
            e = {i, x[i]};
        }
    }
    return e;
}

TEST(DelayRender, EchoesComeEveryDelayTimeAndDecayByTheFeedback) {
    struct Case {
        float seconds;
        float feedback;
    };
    for (const Case c : {Case{0.25f, 50.0f}, Case{0.1f, -50.0f}, Case{0.5f, 80.0f}, Case{1.0f, 0.0f}}) {
        SCOPED_TRACE(testing::Message() << c.seconds << " s, " << c.feedback << " %");
        Delay delay;
        delay.prepare(rate, 512);
        delay.setDelayTime(c.seconds);
        delay.setFeedback(c.feedback);
        const auto d = static_cast<std::size_t>(std::lround(c.seconds * rate));
        const Stereo out = processInBlocks(delay, pulse(6 * d), {512});

        // Fully wet: nothing before the first echo.
        EXPECT_LT(somnara::test::peak(slice(out.left, 0, d)), 1e-6);
        const double g = c.feedback / 100.0;
        double expected = 1.0; // the pulse's peak, at frame 32
        for (std::size_t k = 1; k <= 4; ++k) {
            const Echo e = echoAround(out.left, k * d + 32, d / 2);
            if (g == 0.0 && k > 1) {
                EXPECT_LT(std::abs(e.value), 1e-6);
                continue;
            }
            EXPECT_NEAR(static_cast<double>(e.frame), static_cast<double>(k * d + 32), 1.0) << "echo " << k;
            EXPECT_NEAR(e.value, expected, 0.02 * std::abs(expected) + 1e-6) << "echo " << k;
            EXPECT_NEAR(echoAround(out.right, k * d + 32, d / 2).value, -expected,
                        0.02 * std::abs(expected) + 1e-6);
            expected *= g;
        }
    }
}

TEST(DelayRender, LowPassInTheLoopDarkensEachEcho) {
    // An impulse: each echo passes the loop's low-pass once more, so the share of its energy in the
    // sample-to-sample differences (a measure of brightness) must fall from one echo to the next.
    Delay delay;
    delay.prepare(rate, 512);
    delay.setDelayTime(0.1f);
    delay.setFeedback(90.0f);
    delay.setLowPassCutoff(3000.0f);
    const std::size_t d = 4800;
    Stereo in(6 * d);
    in.left[0] = in.right[0] = 1.0f;
    const Stereo out = processInBlocks(delay, in, {512});
    auto brightness = [&](std::size_t k) {
        const auto echo = slice(out.left, k * d - 16, d); // from just before the onset
        std::vector<float> diff(echo.size() - 1);
        for (std::size_t i = 1; i < echo.size(); ++i) {
            diff[i - 1] = echo[i] - echo[i - 1];
        }
        return rms(diff) / rms(echo);
    };
    double previous = brightness(1);
    for (std::size_t k = 2; k <= 5; ++k) {
        const double b = brightness(k);
        EXPECT_LT(b, 0.9 * previous) << "echo " << k;
        previous = b;
    }
    // And a cut-off at the top of the band leaves the first echo nearly as bright as the impulse.
    Delay open;
    open.prepare(rate, 512);
    open.setDelayTime(0.1f);
    open.setLowPassCutoff(24000.0f);
    Stereo impulse(2 * d);
    impulse.left[0] = 1.0f;
    const Stereo openOut = processInBlocks(open, impulse, {512});
    EXPECT_GT(openOut.left[d], 0.9f);
    EXPECT_LT(out.left[d], 0.5f);
}

TEST(DelayRender, ParameterJumpsDoNotStepTheWaveform) {
    // A 100 Hz sine (amplitude 0.25, steady step 2π·100·0.25/fs ≈ 0.0033) through a delay of 0.5025 s, so
    // the echo is a quarter cycle out of phase with the input. The wet/dry mix jumps from 0 to 100 %, the
    // delay time to 0.3125 s (another quarter cycle), the feedback from 0 to 90 %. Bound: the largest step
    // while they settle (and one delay later, when a new feedback comes round) stays within 10 % of the
    // largest steady step (of the input, or of the louder output that the feedback builds up) plus what
    // a crossfade between two signals of amplitude 0.25 adds per frame over the shortest fade (10 ms):
    // 2·0.25/480 ≈ 0.001. An unsmoothed change steps by up to the difference between the two phases,
    // about 0.35.
    const std::size_t frames = static_cast<std::size_t>(4 * rate);
    const Stereo in(makeSine(100, rate, frames, 0.25), makeSine(100, rate, frames, 0.25));
    const double steady = maxStep(in.left);
    struct Case {
        const char* name;
        std::function<void(Delay&)> change;
    };
    const std::vector<Case> cases = {
        {"wet/dry 0 -> 100", [](Delay& d) { d.setWetDryMix(100.0f); }},
        {"delay time 0.5025 -> 0.3125 s", [](Delay& d) { d.setDelayTime(0.3125f); }},
        {"feedback 0 -> 50", [](Delay& d) { d.setFeedback(50.0f); }},
        {"bypass on", [](Delay& d) { d.setBypass(true); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Delay delay;
        delay.prepare(rate, 512);
        delay.setDelayTime(0.5025f);
        delay.setFeedback(0.0f);
        delay.setWetDryMix(c.name[0] == 'w' ? 0.0f : 100.0f);
        const std::size_t at = static_cast<std::size_t>(1.5 * rate) + 37;
        const Stereo out = processInBlocks(delay, in, {512}, {{at, [&] { c.change(delay); }}});
        const double steadyOut = maxStep(slice(out.left, frames - frames / 8, frames / 8));
        const double bound = 1.1 * std::max(steady, steadyOut) + 2 * 0.25 / (0.01 * rate);
        EXPECT_LE(maxStep(slice(out.left, at - 1, static_cast<std::size_t>(1.2 * rate))), bound);
    }
}

} // namespace
} // namespace somnara::dsp::test
