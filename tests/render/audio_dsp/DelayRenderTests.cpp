#include "DspRenderSupport.hpp"

#include <gtest/gtest.h>
#include <support/SignalMeasurements.hpp>

#include <cmath>
#include <numbers>

namespace somnara::dsp::test {
namespace {

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
        const auto d = static_cast<std::size_t>(std::lround(c.seconds * rate));
        const Stereo out = processInBlocks(*makeDelay(c.seconds, c.feedback, 100.0f), pulse(6 * d), {512});

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
    const auto delay = makeDelay(0.1f, 90.0f, 100.0f);
    delay->setLowPassCutoff(3000.0f);
    const std::size_t d = 4800;
    Stereo in(6 * d);
    in.left[0] = in.right[0] = 1.0f;
    const Stereo out = processInBlocks(*delay, in, {512});
    // Each echo from just before its onset.
    const auto echoBrightness = [&](std::size_t k) { return brightness(slice(out.left, k * d - 16, d)); };
    double previous = echoBrightness(1);
    for (std::size_t k = 2; k <= 5; ++k) {
        const double b = echoBrightness(k);
        EXPECT_LT(b, 0.9 * previous) << "echo " << k;
        previous = b;
    }
    // And a cut-off at the top of the band leaves the first echo nearly as bright as the impulse.
    const auto open = makeDelay(0.1f, 0.0f, 100.0f);
    open->setLowPassCutoff(24000.0f);
    const Stereo openOut = processInBlocks(*open, in, {512});
    EXPECT_GT(openOut.left[d], 0.9f);
    EXPECT_LT(out.left[d], 0.5f);
}

} // namespace
} // namespace somnara::dsp::test
