#include "audio/dsp/Biquad.hpp"
#include "audio/dsp/LinearSmoother.hpp"
#include "audio/dsp/Pan.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace somnara::dsp {
namespace {

TEST(LinearSmoother, ReachesTheTargetExactlyAfterTheRampAndMovesEvenlyOnTheWay) {
    struct Case {
        float from, to;
        std::size_t frames;
    };
    for (const Case c : {Case{0.0f, 1.0f, 100}, Case{1.0f, 0.0f, 441}, Case{-96.0f, 24.0f, 882},
                         Case{0.3f, 0.3001f, 7}, Case{5.0f, -5.0f, 1}}) {
        SCOPED_TRACE(testing::Message() << c.from << " -> " << c.to << " over " << c.frames);
        LinearSmoother s(c.from);
        s.setTarget(c.to, c.frames);
        float previous = c.from;
        const float step = (c.to - c.from) / static_cast<float>(c.frames);
        for (std::size_t i = 0; i < c.frames; ++i) {
            EXPECT_TRUE(s.isSmoothing());
            const float v = s.next();
            EXPECT_NEAR(v - previous, step, 1e-4f * std::max(1.0f, std::abs(c.to - c.from)));
            previous = v;
        }
        EXPECT_EQ(previous, c.to);
        EXPECT_FALSE(s.isSmoothing());
        EXPECT_EQ(s.next(), c.to);
    }
}

TEST(LinearSmoother, SkippingAndFillingGiveTheSameValuesAsSteppingOneByOne) {
    LinearSmoother stepped(0.0f), skipped(0.0f), filled(0.0f);
    for (auto* s : {&stepped, &skipped, &filled}) {
        s->setTarget(0.8f, 1000);
    }
    std::vector<float> block(37);
    for (int round = 0; round < 30; ++round) {
        float last = 0.0f;
        for (std::size_t i = 0; i < block.size(); ++i) {
            last = stepped.next();
        }
        skipped.skip(block.size());
        filled.fill(block.data(), block.size());
        EXPECT_EQ(skipped.current(), last);
        EXPECT_EQ(block.back(), last);
    }
}

TEST(LinearSmoother, RetargetingMidGlideStartsFromWhereItIs) {
    LinearSmoother s(0.0f);
    s.setTarget(1.0f, 100);
    for (int i = 0; i < 40; ++i) {
        s.next();
    }
    const float here = s.current();
    s.setTarget(0.0f, 10);
    EXPECT_NEAR(s.current(), here, 1e-6f);
    EXPECT_NEAR(s.next(), here - here / 10.0f, 1e-6f);
    // The same target again does not restart the glide.
    s.setTarget(0.0f, 1000);
    EXPECT_EQ(s.remainingFrames(), 9u);
}

TEST(LinearSmoother, ApplyGainLeavesSamplesUntouchedAtASteadyUnity) {
    std::vector<float> data = {0.1f, -0.2f, 0.3f};
    const auto copy = data;
    LinearSmoother unity(1.0f);
    unity.applyGain(data.data(), data.size());
    EXPECT_EQ(data, copy);
}

TEST(StereoPan, PowerOfUncorrelatedChannelsStaysConstantAcrossTheSweep) {
    // For independent unit-power channels the output power is gLL² + gLR² + gRL² + gRR², which the sine law
    // keeps at 2 everywhere; the gains also move monotonically.
    float previousRightFromRight = 0.0f;
    for (int i = 0; i <= 200; ++i) {
        const float pan = -1.0f + static_cast<float>(i) / 100.0f;
        const auto g = stereoPanGains(pan);
        const float power = g.leftFromLeft * g.leftFromLeft + g.leftFromRight * g.leftFromRight +
                            g.rightFromLeft * g.rightFromLeft + g.rightFromRight * g.rightFromRight;
        EXPECT_NEAR(power, 2.0f, 1e-5f) << pan;
        if (pan <= 0.0f) {
            EXPECT_GE(g.rightFromRight, previousRightFromRight);
            previousRightFromRight = g.rightFromRight;
        }
    }
    // Bit-exact at the centre; beyond the sides the pan is clamped.
    float l = 0.123f, r = -0.456f;
    applyStereoPan(stereoPanGains(0.0f), l, r);
    EXPECT_EQ(std::pair(l, r), std::pair(0.123f, -0.456f));
    applyStereoPan(stereoPanGains(2.0f), l, r);
    EXPECT_NEAR(r, -0.456f + 0.123f, 1e-6f);
    EXPECT_EQ(l, 0.0f);
}

// Measured responses are checked by rendering; here only that input out of range cannot make a filter
// unstable.
TEST(BiquadDesign, ClampsOutOfRangeInputToAStableFilter) {
    const auto clamped = designBiquad(EQFilterType::parametric, 1e9, 100, -1000, 48000.0);
    EXPECT_LT(std::abs(clamped.a2), 1.0);
    EXPECT_TRUE(std::isfinite(clamped.b0));
    EXPECT_NEAR(biquadMagnitude(designBiquad(EQFilterType::parametric, 1000, 1, 0, 48000.0), 123, 48000.0),
                1.0, 1e-12);
}

} // namespace
} // namespace somnara::dsp
